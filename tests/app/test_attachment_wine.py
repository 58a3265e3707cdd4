"""Opening an attachment from the strip under Wine: a name that Windows takes
for a device ("con.txt") is saved with the prefix "_" and opened."""
from support.quorvel_app import wait_until

WM_LBUTTONDBLCLK, MK_LBUTTON = 0x0203, 0x0001
STRIP_ID = 120


def stored_mail() -> bytes:
    padding = "".join(f"line {i} of the first part\r\n" for i in range(30))
    part = 'Content-Type: text/plain\r\nContent-Disposition: attachment; filename="{}"\r\n\r\n{}\r\n'
    text = ("From: hanako@example.jp\r\nTo: quorvel\r\nDate: Mon, 15 Dec 2008 21:00:00 +0900\r\n"
            "Subject: devices\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b-1\"\r\n\r\n"
            f"--b-1\r\nContent-Type: text/plain\r\n\r\n{padding}"
            f"--b-1\r\n{part.format('con.txt', 'saved, not lost')}"
            f"--b-1\r\n{part.format('nul', 'x')}--b-1--\r\n")
    return text.encode() + b".\r\n"


def test_device_named_attachment_is_saved_prefixed_and_opened(quorvel, driver):
    quorvel.write_settings()
    (quorvel.folder / "QuorvelMail.log").write_bytes(stored_mail())  # the index is rebuilt at start
    quorvel.start()
    wait_until(lambda: quorvel.row_count() == 1, what="the stored mail in the list")
    quorvel.click_row(0)
    strip = quorvel.child(STRIP_ID)
    wait_until(lambda: [r[0] for r in driver.list_view(strip)["rows"]] == ["_con.txt", "_nul"],
               what="the attachment strip")
    driver.post(strip, WM_LBUTTONDBLCLK, MK_LBUTTON, (8 << 16) | 8)  # on the first icon

    viewer = driver.wait_window("Notepad", timeout=20)
    try:
        driver.wait_title(viewer["hwnd"], "_con.txt", mode="contains", timeout=20)
        saved = list(quorvel.wine.prefix.glob("drive_c/users/*/Temp/_con.txt"))
        assert len(saved) == 1 and saved[0].read_bytes() == b"saved, not lost\r\n"
        assert quorvel.dialogs() == []
    finally:
        driver.close(viewer["hwnd"], "wm")
        driver.wait_gone(viewer["hwnd"])
