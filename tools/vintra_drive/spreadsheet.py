"""A CSV file read back by LibreOffice Calc (Debian libreoffice-calc-nogui), headless, as a spreadsheet
user would open it: converted to a flat OpenDocument spreadsheet whose cells say how Calc took each field.
Each run has its own profile and waits for soffice to end, so nothing is left running."""

import os
import subprocess
import tempfile
import xml.etree.ElementTree as ET

_TABLE = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"
_OFFICE = "{urn:oasis:names:tc:opendocument:xmlns:office:1.0}"


def calc_cells(csv_path, locale="en_US.UTF-8", timeout=120):
    """The rows of `csv_path` as Calc reads it with `locale` as the system's: lists of (type, value) per
    cell, type being Calc's ("float", "string", "date", ...) and value its number or its text."""
    with tempfile.TemporaryDirectory(prefix="vintra-calc-") as folder:
        env = dict(os.environ, LANG=locale, LC_ALL=locale, HOME=folder)
        command = ["soffice", "-env:UserInstallation=file://%s/profile" % folder, "--headless", "--norestore",
                   "--convert-to", "fods", "--outdir", folder, csv_path]
        result = subprocess.run(command, env=env, capture_output=True, text=True, timeout=timeout)
        out = os.path.join(folder, os.path.splitext(os.path.basename(csv_path))[0] + ".fods")
        if result.returncode != 0 or not os.path.exists(out):
            raise AssertionError("soffice did not convert %s: %s %s" % (csv_path, result.stdout, result.stderr))
        rows = []
        for row in ET.parse(out).iter(_TABLE + "table-row"):
            cells = []
            for cell in row.findall(_TABLE + "table-cell"):
                kind = cell.get(_OFFICE + "value-type")
                if kind is None:
                    continue
                value = (cell.get(_OFFICE + "value") or cell.get(_OFFICE + "date-value")
                         or "".join(cell.itertext()).strip())
                cells.append((kind, value))
            if cells:
                rows.append(cells)
        return rows
