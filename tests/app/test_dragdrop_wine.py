"""Drag and drop under Wine: files dropped on the mail panel by a real OLE
drag (qvdriver), and a mail prepared for a drag out of the list."""
from support.qvdriver import IDOK
from support.quorvel_app import wait_until
from support.wine import winpath

PREPARE_MAIL_DRAG = 0x400 + 26


def mail(subject: str) -> bytes:
    body = "".join(f"line {i} of {subject}\r\n" for i in range(20))
    return (f"From: hanako@example.jp\r\nTo: quorvel\r\nDate: Mon, 15 Dec 2008 21:00:00 +0900\r\n"
            f"Subject: {subject}\r\n\r\n{body}").encode("cp932")


def answer(app, text):
    box = wait_until(lambda: next((d for d in app.dialogs(timeout=2) if d["text"] == text), None),
                     what=f"the message {text!r}")
    app.press(box, IDOK)
    app.driver.wait_gone(box["hwnd"])


def test_dropped_files_are_imported_or_refused_with_a_message(quorvel, driver, tmp_path):
    first, second = tmp_path / "first.eml", tmp_path / "second.eml"
    first.write_bytes(mail("ドロップ1"))
    second.write_bytes(mail("ドロップ2"))
    other = tmp_path / "note.txt"
    other.write_bytes(b"not a mail\r\n" * 60)
    quorvel.write_settings()
    quorvel.start()
    panel = quorvel.child(cls="SplitPanel")

    assert driver.drop_files(panel, [winpath(first)]) == 1  # DROPEFFECT_COPY
    wait_until(lambda: quorvel.row_count() == 1, what="the dropped mail in the list")

    driver.drop_files(panel, [winpath(second), winpath(first)])
    answer(quorvel, "複数のファイルがドロップされました。最初のファイルだけを取り込みます。")
    wait_until(lambda: quorvel.row_count() == 2, what="only the first of two files imported")
    assert [r[2] for r in quorvel.mail_list()["rows"]] == ["ドロップ1", "ドロップ2"]

    driver.drop_files(panel, [winpath(tmp_path)])
    answer(quorvel, "フォルダは取り込めません。メールのファイルをドロップしてください。")
    driver.drop_files(panel, [winpath(other)])
    answer(quorvel, "ドロップされたファイルはメールとして取り込めません。")
    assert quorvel.row_count() == 2
    assert quorvel.close() == 0


def test_mail_prepared_for_a_drag_is_the_raw_mail(quorvel, driver):
    raw = mail("ドラッグ")
    quorvel.write_settings()
    (quorvel.folder / "QuorvelMail.log").write_bytes(raw + b".\r\n")
    quorvel.start()
    wait_until(lambda: quorvel.row_count() == 1, what="the stored mail")
    driver.send(quorvel.hwnd, PREPARE_MAIL_DRAG, 0)
    files = wait_until(lambda: list(quorvel.wine.prefix.glob("drive_c/users/*/Temp/ドラッグ(*).eml")),
                       what="the mail file in the temporary folder")
    assert len(files) == 1 and files[0].read_bytes() == raw
    # The next drag replaces the file of the previous one.
    driver.send(quorvel.hwnd, PREPARE_MAIL_DRAG, 0)
    wait_until(lambda: not files[0].exists(), what="the previous drag file removed")
    assert len(list(quorvel.wine.prefix.glob("drive_c/users/*/Temp/ドラッグ(*).eml"))) == 1
    assert quorvel.close() == 0
