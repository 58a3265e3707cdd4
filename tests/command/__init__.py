"""Command-mail tests; a package so its module names stay apart from tests/app."""
