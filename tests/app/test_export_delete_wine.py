"""The mail list's own operations under Wine: select all, the Delete key
with its question, export through the folder browser, and the deleted rows
gone after a restart."""
import shutil

from support.qvdriver import IDNO, IDOK, IDYES
from support.quorvel_app import wait_until

WM_KEYDOWN, VK_DELETE = 0x0100, 0x2E
SELECT_ALL, EXPORT, EXPORT_AND_MOVE = 0x400 + 13, 0x400 + 14, 0x400 + 15
PANEL_CLASS = "SplitPanel"
BROWSER_TITLE = "メールをエクスポートするフォルダを指定してください。"


def mail(subject: str, n: int) -> bytes:
    body = "".join(f"line {i} of mail {n}\r\n" for i in range(12))
    return (f"From: hanako@example.jp\r\nTo: quorvel\r\nDate: Mon, 15 Dec 2008 21:0{n}:00 +0900\r\n"
            f"Subject: {subject}\r\n\r\n{body}").encode("cp932")


def test_delete_key_asks_and_export_writes_every_selected_mail(quorvel, driver):
    mails = [mail("同じ件名", 1), mail("同じ件名", 2), mail("同じ件名", 3), mail("別件", 4)]
    quorvel.write_settings()
    (quorvel.folder / "QuorvelMail.log").write_bytes(b"".join(m + b".\r\n" for m in mails))
    quorvel.start()
    wait_until(lambda: quorvel.row_count() == 4, what="the stored mails in the list")
    panel = quorvel.child(cls=PANEL_CLASS)
    listview = quorvel.child(110)

    # The Delete key on the last row: No keeps it, Yes removes it.
    quorvel.click_row(3)
    wait_until(lambda: quorvel.mail_list()["selected"] == [3], what="the last row selected")
    question = "選択されているメールを削除します。よろしいですか？"
    for answer, rows in ((IDNO, 4), (IDYES, 3)):
        driver.post(listview, WM_KEYDOWN, VK_DELETE, 0)
        box = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2) if d["text"] == question), None),
                         what="the delete question")
        quorvel.press(box, answer)
        driver.wait_gone(box["hwnd"])
        wait_until(lambda: quorvel.row_count() == rows, what=f"{rows} rows")

    # Export of the three mails with equal Subjects.
    driver.post(panel, SELECT_ALL)
    wait_until(lambda: quorvel.mail_list()["selected"] == [0, 1, 2], what="every row selected")
    # Wine's folder browser finds a folder given by path only near a drive's root.
    out = quorvel.wine.prefix / "drive_c" / "書き出し"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    driver.post(panel, EXPORT)
    browser = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2)
                                       if any(c["text"] == BROWSER_TITLE for c in d["controls"])), None),
                         what="the folder browser")
    driver.browse_select(browser, "C:\\書き出し")
    quorvel.press(browser, IDOK)
    # The rows are deselected once the export has written every file.
    wait_until(lambda: quorvel.mail_list()["selected"] == [], what="the rows deselected")
    files = sorted(out.glob("*.eml"))
    assert len(files) == 3 and all(f.name.startswith("同じ件名(") for f in files)
    assert sorted(f.read_bytes() for f in files) == sorted(mails[:3])
    assert quorvel.close() == 0

    # The deleted mail has left the mail log at exit.
    quorvel.start()
    wait_until(lambda: quorvel.row_count() == 3, what="three rows after the restart")
    assert "別件" not in str(quorvel.mail_list()["rows"])
    assert quorvel.close() == 0


def test_export_and_move_stops_at_the_first_mail_it_cannot_write(quorvel, driver):
    # The second mail's long Subject makes its path too long for this folder.
    mails = [mail("短い", 1), mail("長" * 40, 2), mail("三通目", 3)]
    quorvel.write_settings()
    (quorvel.folder / "QuorvelMail.log").write_bytes(b"".join(m + b".\r\n" for m in mails))
    folder = "x" * 180
    out = quorvel.wine.prefix / "drive_c" / folder
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    quorvel.start()
    wait_until(lambda: quorvel.row_count() == 3, what="the stored mails in the list")
    panel = quorvel.child(cls=PANEL_CLASS)
    driver.post(panel, SELECT_ALL)
    wait_until(lambda: quorvel.mail_list()["selected"] == [0, 1, 2], what="every row selected")
    driver.post(panel, EXPORT_AND_MOVE)
    browser = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2)
                                       if any(c["text"] == BROWSER_TITLE for c in d["controls"])), None),
                         what="the folder browser")
    driver.browse_select(browser, "C:\\" + folder)
    quorvel.press(browser, IDOK)
    box = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2)
                                   if d["text"] == "エクスポート先のパス名が大き過ぎます。"), None),
                     what="the path-too-long message")
    quorvel.press(box, IDOK)
    wait_until(lambda: quorvel.row_count() == 2, what="the first mail removed")
    listing = quorvel.mail_list()
    assert [r[2] for r in listing["rows"]] == ["長" * 40, "三通目"] and listing["selected"] == [0, 1]
    assert [f.read_bytes() for f in out.glob("*.eml")] == [mails[0]]
    assert quorvel.close() == 0


def test_context_menu_resource(quorvel):
    items = quorvel.menu_resource("#2011")[0]["items"]
    assert [(i["text"], i["id"]) for i in items] == [
        ("全て選択(&S)", 40018), ("エクスポート(&C)", 40014), ("エクスポート(移動)(&M)", 40015),
        ("削 除(&D)", 40017), ("キャンセル(&C)", 40016)]
