"""quorvel.exe under Wine: first start, single instance, settings file."""
import pytest

from support import settings
from support.qvdriver import SW_HIDE, SW_MINIMIZE, IDOK
from support.quorvel_app import (CMD_EXIT, COMM_LOG, MAIL_LIST_ID, MAIN_CLASS, MK_LBUTTON, MUTEX,
                                 WM_LBUTTONDOWN, WM_LBUTTONUP, wait_until)

MENU = [
    ("設 定(&H)", -1, [("使用環境(&S)", 40003), None, ("メールログ消去(&D)", 40004), None,
                      ("Quorvelの終了(&X)", 40000)]),
    ("メール受信(&R)", 40001, None),
    ("ソース表示(&S)", 40008, None),
    ("通信ログ表示(&L)", 40005, None),
    ("ヘルプ(&H)", -1, [("操作ガイド(&G)", 40012), None, ("Quorvelについて(&A)", 40013)]),
]

COMMAND_KEY_COLUMNS = ["位置", "キー名", "指定値", "ACTION"]
COLUMNS = [("状 況", 50), ("送信日時", 80), ("件 名", 200), ("送信者", 120), ("宛 先", 120),
           ("送信メーラ", 120), ("送信者メルアド", 120), ("添付ファイル", 120)] + [("", 0)] * 10


def test_first_start_shows_the_main_window(quorvel):
    (quorvel.folder / COMM_LOG).write_bytes(b"last run\r\n")
    w = quorvel.start()
    assert (w["class"], w["title"]) == (MAIN_CLASS, "Quorvel")
    assert w["rect"] == [0, 0, 800, 600]
    assert w["visible"] and not w["iconic"]
    assert w["menu_bar_height"] > 0
    mail_list = quorvel.mail_list()
    assert [(c["text"], c["width"]) for c in mail_list["columns"]] == COLUMNS
    assert mail_list["count"] == 0
    keys = quorvel.driver.list_view(quorvel.hwnd, "#130")  # the hidden command-key list
    assert [c["text"] for c in keys["columns"]] == COMMAND_KEY_COLUMNS and keys["count"] == 0
    assert not (quorvel.folder / COMM_LOG).exists()  # emptied at start
    assert quorvel.ini() is None  # written only at exit


def test_menu_resource_has_every_item_and_id(quorvel):
    def shape(items):
        return [None if i["separator"] else (i["text"], i["id"]) for i in items]

    items = quorvel.menu_resource("MYMENU")
    assert [(i["text"], i["id"]) for i in items] == [(t, i) for t, i, _ in MENU]
    for item, (_, _, sub) in zip(items, MENU):
        assert (shape(item["items"]) if item["items"] else None) == sub
        assert not item["grayed"]


@pytest.mark.parametrize("how", ["close box", "menu exit"])
def test_closing_writes_the_settings_record(quorvel, how):
    quorvel.start()
    if how == "close box":
        assert quorvel.close() == 0
    else:
        quorvel.command(CMD_EXIT)
        assert quorvel.wait_exit() == 0
    record = quorvel.ini()
    assert len(record) == 4620
    values = settings.parse(record)
    expected = settings.defaults(quorvel.windows_folder)
    expected["splitterPosition"] = 300  # set by the first start
    assert {k: v for k, v in values.items() if k != "windowPlacement"} == \
        {k: v for k, v in expected.items() if k != "windowPlacement"}
    placement = values["windowPlacement"]
    assert placement[0] == 44 and placement[7:] == [0, 0, 800, 600]


def test_saved_record_comes_back_and_is_written_back_unchanged(quorvel):
    written = quorvel.write_settings(
        pop3Server="127.0.0.1", accountName="ユーザー", password="pw", intervalMinutes=0,
        windowPlacement=[44, 0, 1, -1, -1, -1, -1, 100, 50, 740, 530], splitterPosition=250,
        columnWidths=[60, 90, 210, 130, 110, 100, 90, 80], subjectKeyword="カメラ指令",
        commandKeyNames=[f"キー{i}" for i in range(26)], spamRules=[i % 2 for i in range(24)],
        tlsSpare=bytes(range(28)), reserved=bytes(range(152)), pop3Security=1,
        receiveProtocol=1, imapFolder="監視",
        commandSecret="PIN 1234", replayGuard=1)
    w = quorvel.start()
    assert w["rect"] == [100, 50, 740, 530]
    assert [c["width"] for c in quorvel.mail_list()["columns"][:8]] == [60, 90, 210, 130, 110, 100, 90, 80]
    assert quorvel.close() == 0
    saved = quorvel.ini()
    # Everything but the placement, which the window refreshes, byte for byte.
    assert saved[:1464] == written[:1464] and saved[1508:] == written[1508:]
    assert settings.parse(saved)["windowPlacement"][7:] == [100, 50, 740, 530]


WM_MOUSEMOVE, LVM_SETCOLUMNWIDTH = 0x0200, 0x101E


def _drag_splitter(quorvel, to_y):
    panel = quorvel.child(cls="SplitPanel")
    bar = 300 + 5  # the middle of the bar below a list 300 high
    quorvel.driver.send(panel, WM_LBUTTONDOWN, MK_LBUTTON, (bar << 16) | 100)
    quorvel.driver.send(panel, WM_MOUSEMOVE, MK_LBUTTON, ((to_y & 0xFFFF) << 16) | 100)
    quorvel.driver.send(panel, WM_LBUTTONUP, 0, ((to_y & 0xFFFF) << 16) | 100)
    left, top, right, bottom = quorvel.driver.info(panel)["rect"]
    return bottom - top


# The drag target's y in the panel -> the list height kept (h: panel height).
DRAGS = {"inside": (200, lambda h: 200), "above the panel": (-40, lambda h: 100),
         "near the bottom": (2000, lambda h: h - 120)}


@pytest.mark.parametrize("drag", DRAGS)
def test_splitter_and_column_widths_reach_the_settings_record(quorvel, drag):
    to_y, expected = DRAGS[drag]
    quorvel.start()
    height = _drag_splitter(quorvel, to_y)
    quorvel.driver.send(quorvel.child(MAIL_LIST_ID), LVM_SETCOLUMNWIDTH, 2, 150)
    assert quorvel.close() == 0
    values = settings.parse(quorvel.ini())
    assert values["splitterPosition"] == expected(height)
    assert values["columnWidths"] == [50, 80, 150, 120, 120, 120, 120, 120]


BAD_FILES = {
    "one byte short": lambda r: r[:-1],
    "one byte long": lambda r: r + b"\0",
    "other signature": lambda r: b"quorvel" + r[7:],
}


@pytest.mark.parametrize("fault", BAD_FILES)
def test_unusable_record_gives_the_defaults(quorvel, fault):
    good = settings.build(mail_log_folder=quorvel.windows_folder, pop3Server="127.0.0.1",
                          windowPlacement=[44, 0, 1, -1, -1, -1, -1, 100, 50, 740, 530],
                          tlsSpare=b"\x5a" * 28, reserved=b"\x5a" * 152, replayGuard=1,
                          receiveAuth=1, sendAuth=1, oauthProvider=2,
                          commandSecret="PIN", receiveProtocol=1, imapFolder="監視")
    quorvel.write_ini(BAD_FILES[fault](good))
    assert quorvel.start()["rect"] == [0, 0, 800, 600]
    assert quorvel.close() == 0
    values = settings.parse(quorvel.ini())
    assert (values["signature"], values["pop3Server"], values["pop3Port"]) == ("Quorvel", "", 110)
    # A record that was read keeps its spare bytes, but its security and
    # guard fields take their defaults (off); one that was not read is new.
    spare = b"\x5a" if fault == "other signature" else b"\0"
    assert (values["tlsSpare"], values["reserved"]) == (spare * 28, spare * 152)
    assert (values["replayGuard"], values["commandSecret"]) == (0, "")
    assert (values["receiveProtocol"], values["imapFolder"]) == (0, "")
    assert (values["receiveAuth"], values["sendAuth"], values["oauthProvider"]) == (0, 0, 0)


@pytest.mark.parametrize("sw", [SW_MINIMIZE, SW_HIDE], ids=["minimised", "hidden"])
def test_second_start_brings_the_first_forward_and_ends(quorvel, driver, sw):
    def shown():
        w = quorvel.info()
        return w if w["visible"] and not w["iconic"] else None

    first = quorvel.start()
    driver.show(first["hwnd"], sw)
    wait_until(lambda: not shown(), what="the window minimised or hidden")
    second = quorvel.launch()
    assert second.wait(timeout=30) == 0
    assert wait_until(shown, what="the first window shown again")["hwnd"] == first["hwnd"]
    assert [w["hwnd"] for w in driver.find(MAIN_CLASS, visible_only=False)] == [first["hwnd"]]
    assert quorvel.running()


def test_start_while_only_the_mutex_exists_says_so_and_ends(quorvel, driver):
    holder = driver.hold_mutex(MUTEX)
    process = quorvel.launch()
    try:
        box = driver.wait_dialog(0, timeout=30)
        assert (box["title"], box["text"]) == ("Quorvel", "Quorvelは複数起動できません")
        assert box["owner"] == 0
        assert driver.find(MAIN_CLASS, visible_only=False) == []
        driver.press(box, IDOK)
        assert process.wait(timeout=30) == 0
    finally:
        for p in (process, holder):
            if p.poll() is None:
                p.kill()
                p.wait()
