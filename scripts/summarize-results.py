"""Adds up JUnit result files and prints the closing line 'N passed, N failed'."""
import sys
import xml.etree.ElementTree as ET

passed = failed = skipped = 0
for path in sys.argv[1:]:
    try:
        root = ET.parse(path).getroot()
    except (OSError, ET.ParseError):
        failed += 1
        print(f"missing or unreadable results: {path}")
        continue
    for case in root.iter("testcase"):
        outcome = {child.tag for child in case}
        if outcome & {"failure", "error"}:
            failed += 1
            print(f"FAILED: {case.get('classname', '')} {case.get('name', '')}")
        elif "skipped" in outcome:
            skipped += 1
        else:
            passed += 1
if len(sys.argv) < 2:
    failed += 1
line = f"{passed} passed, {failed} failed"
if skipped:
    line += f", {skipped} skipped"
print(line)
sys.exit(1 if failed else 0)
