"""Fixtures of the service tests: the reply SMTP server, one motion rig for
the module (its camera takes seconds to come up), and quorveld made for
them."""
import pytest

from support.motion_rig import MotionRig
from support.quorveld import Quorveld
from support.smtp import ReplyServer


@pytest.fixture
def smtp():
    with ReplyServer() as server:
        yield server


@pytest.fixture(scope="module")
def motion_rig():
    with MotionRig() as rig:
        yield rig


@pytest.fixture
def rig(motion_rig):
    """The module's motion, running, detecting, with no recording open."""
    if motion_rig._motion is None:
        motion_rig.start()
    motion_rig.get("detection/start")
    yield motion_rig


@pytest.fixture
def quorveld(dovecot, smtp, rig):
    d = Quorveld(dovecot=dovecot, smtp=smtp, motion=rig)
    yield d
    d.close()
