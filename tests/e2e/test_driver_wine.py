"""qvdriver.exe against its demo window (qvdemo.exe) under Wine + Xvfb."""
import pytest

from support import paths
from support.qvdriver import WM_COMMAND, DriverError

DEMO = paths.win("tests/support/qvdriver/qvdemo.exe")
CLASS = "QVDEMO_MAIN"


class Demo:
    def __init__(self, wine, driver, folder, lang="ja_JP.UTF-8"):
        self.driver = driver
        self.process = wine.start(DEMO, cwd=folder, lang=lang,
                                  stdout=folder / "out.txt", stderr=folder / "err.txt")
        self.window = driver.wait_window(CLASS, timeout=30)
        self.hwnd = self.window["hwnd"]

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


@pytest.fixture
def demo(wine, gui, driver, tmp_path):
    d = Demo(wine, driver, tmp_path)
    yield d
    d.stop()


def test_finds_the_window_with_its_title_place_and_menu_bar(demo, driver):
    w = demo.window
    assert (w["class"], w["title"]) == (CLASS, "デモ窓 Demo")
    assert w["rect"] == [10, 20, 650, 500]
    assert w["visible"] and not w["iconic"] and w["pid"] > 0
    assert w["menu_bar_height"] > 10
    assert driver.find("NO_SUCH_CLASS_ANYWHERE") == []


def test_reads_every_list_column_and_the_selection(demo, driver):
    lv = driver.list_view(demo.hwnd, "SplitPanel/#110")
    assert lv["class"] == "SysListView32" and lv["view"] == 1  # report view
    assert [(c["text"], c["width"]) for c in lv["columns"]] == [
        ("状 況", 50), ("送信日時", 160), ("件 名", 200), ("", 0)]
    assert lv["rows"] == [
        ["一 般", "2008/12/07 09:05 +0900", "ソース表示の件", "7"],
        ["待 機", "2008/12/15 21:00 +0900", "能力表 \\ backslash", "1234567"],
        ["完 了", "Sun, 7 Dec", "", "0"],
    ]
    assert (lv["count"], lv["selected"], lv["focused"]) == (3, [1], 1)

    driver.send(demo.hwnd, WM_COMMAND, 104)  # select rows 0 and 2
    driver.send(demo.hwnd, WM_COMMAND, 105)  # append a row
    lv = driver.list_view(demo.hwnd, "SplitPanel/#110")
    assert (lv["count"], lv["selected"], lv["focused"]) == (4, [0, 2], 2)
    assert lv["rows"][3] == ["無 効", "追加", "新しい行", "42"]


def test_reads_a_child_edit_and_the_window_tree(demo, driver):
    assert driver.text(demo.hwnd, "SplitPanel/#100") == "本文の一行目\r\n二行目 ソ表"
    tree = driver.children(demo.hwnd)
    panel = tree["children"][0]
    assert panel["class"] == "SplitPanel"
    assert [(c["class"], c["id"]) for c in panel["children"]] == [("SysListView32", 110), ("Edit", 100)]
    with pytest.raises(DriverError, match="no child"):
        driver.text(demo.hwnd, "SplitPanel/#999")


@pytest.mark.parametrize("button, answer", [("はい(Y)", 6), ("いいえ(N)", 7)])
def test_reads_and_answers_a_message_box(demo, driver, button, answer):
    assert driver.dialogs(demo.window["pid"]) == []
    driver.command(demo.hwnd, 102)
    box = driver.wait_dialog(demo.window["pid"], timeout=10)
    assert (box["title"], box["text"]) == ("Quorvel", "本当に表示しますか？\n二行目")
    assert box["owner"] == demo.hwnd
    buttons = {c["id"]: c["text"] for c in box["controls"] if c["class"] == "Button"}
    assert buttons == {6: "はい(&Y)", 7: "いいえ(&N)"}
    driver.press(box, button)
    driver.wait_title(demo.hwnd, f"回答 {answer}", timeout=10)
    assert driver.dialogs(demo.window["pid"]) == []


def test_dumps_a_menu_resource_with_ids_and_states(driver):
    items = driver.menu(DEMO, "DEMOMENU")
    assert [(i["text"], i["id"], i["grayed"]) for i in items] == [
        ("ファイル(&F)", -1, False), ("確認(&M)", 102, False), ("ソース表示", 103, True)]
    assert [(i["text"], i["id"], i["separator"]) for i in items[0]["items"]] == [
        ("表示(&S)", 100, False), ("", 0, True), ("終了(&X)", 101, False)]
    with pytest.raises(DriverError, match="no menu"):
        driver.menu(DEMO, "NOSUCHMENU")


@pytest.mark.parametrize("how", ["sc", "wm"])
def test_closes_the_window_and_the_program_ends(demo, driver, how):
    driver.close(demo.hwnd, how)
    assert demo.process.wait(timeout=20) == 3  # the demo's exit code
    assert driver.wait_gone(demo.hwnd, timeout=5)


def test_title_wait_is_bounded_and_reports_the_title(demo, driver):
    with pytest.raises(AssertionError, match="デモ窓 Demo"):
        driver.wait_title(demo.hwnd, "never this", timeout=0.3)
    driver.command(demo.hwnd, 100)
    assert driver.wait_title(demo.hwnd, "表示", mode="contains", timeout=10)["title"] == "表示しました"


@pytest.mark.parametrize("lang, acp", [("ja_JP.UTF-8", 932), ("en_US.UTF-8", 1252)])
def test_lang_of_each_start_sets_the_code_page_and_output_stays_utf8(
        wine, gui, driver, tmp_path, lang, acp):
    d = Demo(wine, driver, tmp_path, lang=lang)
    try:
        assert d.window["title"] == "デモ窓 Demo"
        driver.send(d.hwnd, WM_COMMAND, 106)
        assert driver.title(d.hwnd) == f"ACP {acp}"
        # The driver's own output, written to standard output under this LANG.
        _, doc = driver.call("info", d.hwnd, lang=lang, raw_stdout=True)
        assert doc["window"]["title"] == f"ACP {acp}"
        _, doc = driver.call("text", d.hwnd, "SplitPanel/#100", lang=lang, raw_stdout=True)
        assert doc["text"] == "本文の一行目\r\n二行目 ソ表"
    finally:
        d.stop()


def test_errors_come_back_as_documents(driver):
    with pytest.raises(DriverError, match="no such window"):
        driver.info(12345678)
    with pytest.raises(DriverError, match="commands:"):
        driver.call("no-such-command")
    rc, doc = driver.call("find", "NO_SUCH_CLASS_ANYWHERE", 0)
    assert (rc, doc["windows"]) == (1, [])


def test_screenshot_of_the_screen(demo, gui):
    path = gui.screenshot("driver-selftest")
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    assert (int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")) == (1024, 768)
    path.unlink()


def test_holds_a_named_mutex_until_killed(driver):
    name = "QV_DRIVER_SELFTEST"
    assert not driver.mutex_exists(name)
    holder = driver.hold_mutex(name)
    try:
        assert driver.mutex_exists(name)
    finally:
        holder.kill()
        holder.wait()
    assert not driver.mutex_exists(name)
