"""`python -m quernel`: the demo, or `python -m quernel compute ...` (see quernel.cli)."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
