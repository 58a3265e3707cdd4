"""Window messages from other programs carry nothing the program trusts."""
from support.quorvel_app import CMD_SOURCE, wait_until

WM_USER = 0x400
STARTUP, SOCKET, CHECK_FINISHED, LOAD_INDEX = WM_USER + 1, WM_USER + 2, WM_USER + 3, WM_USER + 4
OPEN_ATTACHMENT, PROCESSING_FINISHED, RELOAD_STORE = WM_USER + 6, WM_USER + 10, WM_USER + 17
IMPORT_MAIL, PREPARE_ATTACHMENT_DRAG, PREPARE_MAIL_DRAG = WM_USER + 22, WM_USER + 25, WM_USER + 26

MAIL = ("From: hanako@example.jp\r\nTo: quorvel\r\nDate: Mon, 15 Dec 2008 21:00:00 +0900\r\n"
        "Subject: 外からの通知\r\n\r\n" + "".join(f"line {i}\r\n" for i in range(60)) + ".\r\n").encode("cp932")


def test_messages_from_outside_change_nothing(quorvel, driver):
    quorvel.write_settings()
    (quorvel.folder / "QuorvelMail.log").write_bytes(MAIL)
    quorvel.start()
    wait_until(lambda: quorvel.row_count() == 1, what="the stored mail")
    quorvel.click_row(0)
    wait_until(lambda: "line 0" in quorvel.preview(), what="the mail in the preview")
    title = quorvel.title()
    # An address where the drop path used to travel, a second start-up, a
    # check that never ran, a second load of the index, a foreign socket,
    # indexes far beyond the lists.
    for message, wparam in ((IMPORT_MAIL, 0x12345678), (STARTUP, 0), (CHECK_FINISHED, 0), (LOAD_INDEX, 0),
                            (RELOAD_STORE, 0), (PROCESSING_FINISHED, 0), (SOCKET, 0x1234),
                            (OPEN_ATTACHMENT, 0xFFFFFFFF), (PREPARE_ATTACHMENT_DRAG, 0xFFFFFFFF),
                            (PREPARE_MAIL_DRAG, 0xFFFFFFFF)):
        driver.post(quorvel.hwnd, message, wparam, 1)
    quorvel.command(CMD_SOURCE)  # queued after them: its source view shows they were all handled
    wait_until(lambda: quorvel.preview().startswith("From: hanako@example.jp"), what="the source view")
    assert quorvel.running()
    assert quorvel.row_count() == 1
    assert quorvel.title() == title
    assert not quorvel.dialogs()
    assert quorvel.close() == 0

