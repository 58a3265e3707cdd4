"""The settings dialogs under Wine, driven as a user would: texts typed,
boxes ticked, buttons pressed, message boxes answered; what OK wrote is
read back from quorvel.ini."""
import pytest

from support import settings
from support.qvdriver import IDCANCEL, IDNO, IDOK, IDYES
from support.quorvel_app import (CMD_ABOUT, CMD_KEY_DIALOG, CMD_SETTINGS, CMD_SETTINGS_DIRECT,
                                 CMD_SPAM_DIALOG, wait_until)

SETTINGS_TITLE = "Quorvelの使用環境設定"
KEYS_TITLE = "コマンド・キー名定義表"
SPAM_TITLE = "スパム判定の設定"
PASSWORD_TITLE = "パスワード入力"
ABOUT_TITLE = "Quorvelのバージョン情報"
GUARDS_TITLE = "コマンドメールの保護"


def open_dialog(app, command, title):
    app.command(command)
    return open_owned(app, title)


def open_owned(app, title):
    return wait_until(lambda: next((d for d in app.dialogs(timeout=2) if d["title"] == title), None),
                      what=f"the dialog {title}")


def message_box(app, text):
    """Waits for the message box with this text and returns it."""
    return wait_until(lambda: next((d for d in app.dialogs(timeout=2) if d["text"] == text), None),
                      what=f"the message box {text!r}")


def control(dialog, control_id):
    return next(c for c in dialog["controls"] if c["id"] == control_id)


def settings_dialog(app):
    return next(d for d in app.dialogs() if d["title"] == SETTINGS_TITLE)


def closed(app, dialog):
    return app.driver.wait_gone(dialog["hwnd"], timeout=10)


def saved_settings(app, before):
    """The record once the program has written a new one."""
    record = wait_until(lambda: (app.ini() != before) and app.ini(), what="a new quorvel.ini")
    return settings.parse(record)


@pytest.mark.parametrize("lang", ["ja_JP.UTF-8", "en_US.UTF-8"])
def test_every_dialog_on_screen(quorvel, gui, lang):
    quorvel.write_settings(playSound=1, soundFile="C:\\音声\\着信.wav", panelPasswordRequired=1,
                           panelPassword="dcba")
    quorvel.start(lang=lang)
    name = lang.split(".")[0]
    for command, title, shot in [(CMD_SETTINGS_DIRECT, SETTINGS_TITLE, "settings"),
                                 (CMD_KEY_DIALOG, KEYS_TITLE, "command-keys"),
                                 (CMD_SPAM_DIALOG, SPAM_TITLE, "spam"),
                                 (CMD_SETTINGS, PASSWORD_TITLE, "password"),
                                 (CMD_ABOUT, ABOUT_TITLE, "about")]:
        dialog = open_dialog(quorvel, command, title)
        gui.screenshot(f"dialog-{name}-{shot}")
        if shot == "settings":
            quorvel.press(dialog, 1095)
            guards = open_owned(quorvel, GUARDS_TITLE)
            gui.screenshot(f"dialog-{name}-guards")
            quorvel.press(guards, IDCANCEL)
            assert closed(quorvel, guards)
        quorvel.press(dialog, IDCANCEL if command != CMD_ABOUT else IDOK)
        assert closed(quorvel, dialog)
    assert quorvel.close() == 0


def test_settings_validation_then_ok_writes_the_record(quorvel):
    before = quorvel.write_settings(intervalMinutes=1, intervalSeconds=0)
    quorvel.start()
    dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
    d = quorvel.driver
    d.check(dialog, 1009, True)
    quorvel.press(dialog, IDOK)
    quorvel.press(message_box(quorvel, "音声ファイルを指定してください。"), IDOK)
    d.set_text(dialog, 1013, "C:\\音声\\着信.wav")
    d.check(dialog, 1051, True)
    d.set_text(dialog, 1023, "abc")
    quorvel.press(dialog, IDOK)
    quorvel.press(message_box(quorvel, "このダイアログボックス表示用のパスワードは\n４文字以上で指定してください。"), IDOK)
    assert quorvel.ini() == before  # nothing stored while the dialog stays
    d.set_text(dialog, 1023, "abcd")
    typed = {1000: "pop.example.jp", 1003: "995", 1014: "smtp.example.jp", 1021: "587",
             1001: "ユーザ", 1002: "秘密", 1004: "0", 1011: "60", 1006: "250",
             1016: "指令", 1017: "送信者", 1050: "カメラ1"}
    for control_id, text in typed.items():
        d.set_text(dialog, control_id, text)
    d.check(dialog, 1022, True)
    d.check(dialog, 1008, True)
    quorvel.press(dialog, IDOK)
    # A keep count beyond the range is refused, not cut to 100.
    quorvel.press(message_box(quorvel, "メールログ保存数は0から100までの数で指定してください。"), IDOK)
    assert quorvel.ini() == before
    d.set_text(dialog, 1006, "100")
    quorvel.press(dialog, IDOK)
    assert closed(quorvel, dialog)
    got = saved_settings(quorvel, before)
    expected = settings.parse(before)
    expected.update(playSound=1, soundFile="C:\\音声\\着信.wav", panelPasswordRequired=1, panelPassword="dcba",
                    pop3Server="pop.example.jp", pop3Port=995, smtpServer="smtp.example.jp", smtpPort=587,
                    accountName="ユーザ", password="秘密", intervalMinutes=1, intervalSeconds=0,
                    mailLogKeepCount=100, subjectKeyword="指令", requiredSender="送信者", cameraName="カメラ1",
                    smtpAuthRequired=1, spamFilterEnabled=1)
    for name in ("windowPlacement", "splitterPosition"):
        expected.pop(name), got.pop(name)
    assert got == expected
    # The stored password is shown again.
    dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
    assert control(dialog, 1023)["text"] == "abcd"
    quorvel.press(dialog, IDCANCEL)
    assert quorvel.close() == 0


def test_mail_log_folder_created_or_switched_as_answered(quorvel, tmp_path):
    before = quorvel.write_settings()
    # The mailbox memory and the replay guard's record move with the log.
    companions = ("QuorvelMailbox-0123456789abcdef.dat", "QuorvelGuard.dat")
    for name in companions:
        (quorvel.folder / name).write_bytes(b"kept")
    quorvel.start()
    new = tmp_path / "新しいログ"
    dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
    quorvel.driver.set_text(dialog, 1024, str(quorvel.windows_folder).rsplit("\\", 1)[0] + "\\新しいログ")
    question = "指定のメールログ保存先フォルダはありません。新規に作成しますか？"
    quorvel.press(dialog, IDOK)
    quorvel.press(message_box(quorvel, question), IDNO)
    assert not new.exists() and not closed_quickly(quorvel, dialog)
    quorvel.press(dialog, IDOK)
    quorvel.press(message_box(quorvel, question), IDYES)
    assert closed(quorvel, dialog)
    got = saved_settings(quorvel, before)
    assert got["mailLogFolder"].endswith("\\新しいログ")
    assert (new / "QuorvelMail.idx").exists() and not (quorvel.folder / "QuorvelMail.idx").exists()
    assert [(new / n).read_bytes() for n in companions] == [b"kept"] * 2
    assert not any((quorvel.folder / n).exists() for n in companions)

    # A folder that already holds a mail log: Cancel stays, No switches to it.
    other = tmp_path / "other"
    other.mkdir()
    (other / "QuorvelMail.log").write_bytes(b"x" * 10)
    switch = "新しいメールログ保存先に既存のメールログがあります。"
    for answer in (IDCANCEL, IDNO):
        dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
        quorvel.driver.set_text(dialog, 1024, got["mailLogFolder"].rsplit("\\", 1)[0] + "\\other")
        quorvel.press(dialog, IDOK)
        box = wait_until(lambda: next((b for b in quorvel.dialogs(timeout=2)
                                       if (b["text"] or "").startswith(switch)), None), what="the switch question")
        quorvel.press(box, answer)
        if answer == IDCANCEL:
            assert not closed_quickly(quorvel, dialog)
            quorvel.press(dialog, IDCANCEL)
            assert closed(quorvel, dialog)
        else:
            assert closed(quorvel, dialog)
    assert settings.parse(quorvel.ini())["mailLogFolder"].endswith("\\other")
    assert (new / "QuorvelMail.idx").exists()  # No leaves the current log where it was
    assert quorvel.close() == 0


def test_security_and_guard_controls_stored_on_ok(quorvel, gui):
    before = quorvel.write_settings(pop3Port=110, smtpPort=2525)
    (quorvel.folder / "ca.pem").write_bytes(b"-----BEGIN CERTIFICATE-----\n")
    trust = quorvel.windows_folder + "\\ca.pem"
    quorvel.start()
    d = quorvel.driver
    dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
    d.check(dialog, 1088, True)  # POP3 over TLS: 110 becomes 995
    d.check(dialog, 1090, True)  # SMTP STARTTLS: the typed 2525 stays
    d.check(dialog, 1092, False)
    d.set_text(dialog, 1093, trust)
    quorvel.press(dialog, 1094)
    browser = open_owned(quorvel, "信頼する証明書ファイル(PEM)を指定してください。")
    quorvel.press(browser, IDCANCEL)
    assert closed(quorvel, browser)
    # The guard dialog: Cancel drops what was typed, OK keeps it for the settings' OK.
    quorvel.press(dialog, 1095)
    guards = open_owned(quorvel, GUARDS_TITLE)
    d.set_text(guards, 1101, "捨てる")
    quorvel.press(guards, IDCANCEL)
    assert closed(quorvel, guards)
    quorvel.press(dialog, 1095)
    guards = open_owned(quorvel, GUARDS_TITLE)
    assert (control(guards, 1101)["text"], control(guards, 1104)["text"]) == ("", "60")
    d.set_text(guards, 1100, "owner@example.jp\r\nme@example.net")
    d.set_text(guards, 1101, "合言葉")
    d.set_text(guards, 1102, "mx.example.jp")
    d.check(guards, 1103, True)
    d.set_text(guards, 1104, "30")
    d.check(guards, 1105, True)
    gui.screenshot("dialog-ja_JP-guards-filled")
    quorvel.press(guards, IDOK)
    assert closed(quorvel, guards)
    assert quorvel.ini() == before  # nothing stored before the settings' OK
    dialog = open_owned(quorvel, SETTINGS_TITLE)
    ports = [control(dialog, i)["text"] for i in (1003, 1021)]
    assert ports == ["995", "2525"]
    gui.screenshot("dialog-ja_JP-settings-tls")
    quorvel.press(dialog, IDOK)
    assert closed(quorvel, dialog)
    got = saved_settings(quorvel, before)
    expected = settings.parse(before)
    expected.update(pop3Port=995, pop3Security=2, smtpSecurity=1, tlsNoVerify=1, tlsTrustFile=trust,
                    allowedSenders="owner@example.jp\nme@example.net", commandSecret="合言葉",
                    authServerHost="mx.example.jp", replayGuard=1, maxMailAgeMinutes=30, loopGuard=1)
    for name in ("windowPlacement", "splitterPosition"):
        expected.pop(name), got.pop(name)
    assert got == expected
    assert quorvel.close() == 0


def closed_quickly(app, dialog):
    return app.driver.wait_gone(dialog["hwnd"], timeout=0.5)


def test_command_keys_reset_then_cancel_changes_nothing_and_ok_stores(quorvel):
    keys = list(settings.DEFAULT_COMMAND_KEYS)
    keys[0], keys[24] = "起動X", "電源断"
    quorvel.write_settings(commandKeyNames=keys)
    quorvel.start()
    dialog = open_dialog(quorvel, CMD_KEY_DIALOG, KEYS_TITLE)
    quorvel.press(dialog, 1049)
    dialog = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=1)
                                      if d["title"] == KEYS_TITLE and control(d, 1023)["text"] == "VT起動"), None),
                        what="the default names")
    assert control(dialog, 1047)["text"] == "" and control(dialog, 1048)["text"] == "キー返信"
    quorvel.press(dialog, IDCANCEL)
    assert closed(quorvel, dialog)
    dialog = open_dialog(quorvel, CMD_KEY_DIALOG, KEYS_TITLE)
    assert [control(dialog, 1023 + i)["text"] for i in range(26)] == keys
    quorvel.driver.set_text(dialog, 1030, "録画を返して")
    quorvel.press(dialog, IDOK)
    assert closed(quorvel, dialog)
    assert quorvel.close() == 0  # the change reaches the file with the save at exit
    keys[7] = "録画を返して"
    assert settings.parse(quorvel.ini())["commandKeyNames"] == keys


def test_spam_dialog_stores_all_25_boxes(quorvel):
    quorvel.write_settings(spamRules=[1, 0] * 12)
    quorvel.start()
    dialog = open_dialog(quorvel, CMD_SPAM_DIALOG, SPAM_TITLE)
    assert [control(dialog, 1054 + i)["checked"] for i in range(24)] == [True, False] * 12
    for i in range(24):
        quorvel.driver.check(dialog, 1054 + i, i % 2 == 1)
    quorvel.driver.check(dialog, 1083, True)
    quorvel.press(dialog, IDOK)
    assert closed(quorvel, dialog)
    assert quorvel.close() == 0
    got = settings.parse(quorvel.ini())
    assert got["spamRules"] == [0, 1] * 12 and got["spamToRecycleBin"] == 1


def test_password_prompt_guards_the_settings(quorvel):
    quorvel.write_settings(panelPasswordRequired=1, panelPassword="dcba")  # "abcd" rearranged
    quorvel.start()
    prompt = open_dialog(quorvel, CMD_SETTINGS, PASSWORD_TITLE)
    quorvel.driver.set_text(prompt, 1079, "ABCD")
    quorvel.press(prompt, IDOK)
    box = message_box(quorvel, "パスワードが一致しません。パスワードは大文字・小文字を区別します。")
    assert box["title"] == "QUORVEL_TORVANE"
    quorvel.press(box, IDOK)
    assert not closed_quickly(quorvel, prompt)
    assert not [d for d in quorvel.dialogs() if d["title"] == SETTINGS_TITLE]
    quorvel.driver.set_text(prompt, 1079, "abcd")
    quorvel.press(prompt, IDOK)
    assert closed(quorvel, prompt)
    dialog = wait_until(
        lambda: next((d for d in quorvel.dialogs(timeout=2) if d["title"] == SETTINGS_TITLE), None),
        what="the settings dialog")
    quorvel.press(dialog, IDCANCEL)
    assert closed(quorvel, dialog)
    assert quorvel.close() == 0


def test_browse_buttons_fill_the_folder_and_the_sound_file(quorvel):
    drive_c = quorvel.wine.prefix / "drive_c"
    (drive_c / "ログ置場").mkdir(exist_ok=True)
    (drive_c / "chime.wav").write_bytes(b"RIFF\0\0\0\0WAVE")
    before = quorvel.write_settings()
    quorvel.start()
    dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
    quorvel.press(dialog, 1085)
    browser = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2) if any(
        c["text"] == "メールログ保存先フォルダのパスを指定してください。" for c in d["controls"])), None),
        what="the folder browser")
    quorvel.driver.browse_select(browser, "C:\\ログ置場")
    quorvel.press(browser, IDOK)
    wait_until(lambda: control(settings_dialog(quorvel), 1024)["text"] == "C:\\ログ置場",
               what="the chosen folder in 1024")

    quorvel.driver.check(dialog, 1009, True)
    quorvel.press(dialog, 1015)
    chooser = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2)
                                       if d["title"] == "メール受信時に鳴らす音声ファイルを指定してください。"), None),
                         what="the sound-file dialog")
    quorvel.driver.set_text(chooser, 0x47C, "C:\\chime.wav")  # the file-name box
    quorvel.press(chooser, IDOK)
    wait_until(lambda: control(settings_dialog(quorvel), 1013)["text"] == "C:\\chime.wav",
               what="the chosen file in 1013")
    quorvel.press(dialog, IDCANCEL)  # the chosen sound file is kept all the same
    assert closed(quorvel, dialog)
    assert quorvel.close() == 0
    got = settings.parse(quorvel.ini())
    assert got["soundFile"] == "C:\\chime.wav" and got["mailLogFolder"] == settings.parse(before)["mailLogFolder"]


def test_settings_buttons_open_their_dialogs_on_top(quorvel):
    quorvel.write_settings(spamFilterEnabled=1)
    quorvel.start()
    dialog = open_dialog(quorvel, CMD_SETTINGS_DIRECT, SETTINGS_TITLE)
    for button, title in ((1052, KEYS_TITLE), (1053, SPAM_TITLE)):
        quorvel.press(dialog, button)
        inner = wait_until(lambda: next((d for d in quorvel.dialogs(timeout=2) if d["title"] == title), None),
                           what=f"the dialog {title}")
        assert inner["owner"] == dialog["hwnd"]
        quorvel.press(inner, IDCANCEL)
        assert closed(quorvel, inner)
    assert not closed_quickly(quorvel, dialog)
    quorvel.press(dialog, IDCANCEL)
    assert closed(quorvel, dialog)
    assert quorvel.close() == 0
