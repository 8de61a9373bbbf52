"""Reads a line test report with Python's html.parser: verdict, criteria and the figures by their names."""

from html.parser import HTMLParser


class Report(HTMLParser):
    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.verdict = None
        self.criteria = {}  # name -> {"result", "cells", "offset_ms"}
        self.figures = {}  # name -> [cell texts]
        self.events = []  # (kind, text)
        self.svg_count = 0
        self.polylines = 0
        self.external = []  # src/href attributes that load something
        self.title = ""
        self._row = None
        self._cell = None
        self._in_verdict = False
        self._in_title = False
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        for key in ("src", "href"):
            if key in a and tag != "svg":
                self.external.append(a[key])
        if tag == "title":
            self._in_title = True
        if tag == "span" and a.get("id") == "verdict":
            self.verdict = a.get("data-verdict")
        if tag == "svg":
            self.svg_count += 1
        if tag == "polyline":
            self.polylines += 1
        if tag == "tr":
            self._row = {"attrs": a, "cells": [], "offsets": []}
        if tag in ("td", "th") and self._row is not None:
            self._cell = []
            if "data-offset-ms" in a:
                self._row["offsets"].append(int(a["data-offset-ms"]))

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False
        if tag in ("td", "th") and self._row is not None and self._cell is not None:
            self._row["cells"].append("".join(self._cell).strip())
            self._cell = None
        if tag == "tr" and self._row is not None:
            a = self._row["attrs"]
            if "data-criterion" in a:
                self.criteria[a["data-criterion"]] = {
                    "result": a["data-result"],
                    "cells": self._row["cells"],
                    "offset_ms": self._row["offsets"][0] if self._row["offsets"] else None,
                }
            elif "data-figure" in a:
                self.figures[a["data-figure"]] = self._row["cells"][1:]
            elif "data-event" in a:
                self.events.append((a["data-event"], self._row["cells"][-1]))
            self._row = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell.append(data)
        if self._in_title:
            self.title += data


def number(text):
    """A figure as the report writes it ("36,50", "12.00", "-60.0")."""
    return float(text.replace(",", "."))
