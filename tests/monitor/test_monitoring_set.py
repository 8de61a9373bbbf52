"""The monitoring set an operator installs beside the monitor: the alert rules with their runbook, the
Grafana dashboard and the Alertmanager example, checked with the real promtool, amtool, Alertmanager and
Prometheus. Servers listen on 127.0.0.1 only; every wait is bounded.

Paths come from the environment: TESSOR_SOURCE_DIR, and for the end-to-end cases TESSOR_SIM_PROGRAM and
TESSOR_CLI_PROGRAM."""

import json
import os
import re
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

import yaml

SOURCE = os.environ.get("TESSOR_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
RULES = os.path.join(SOURCE, "packaging", "prometheus", "tessor-alerts.yml")
RULE_TESTS = os.path.join(SOURCE, "tests", "monitor", "rules", "tessor-alerts.test.yml")
DASHBOARD = os.path.join(SOURCE, "packaging", "monitoring", "tessor-dashboard.json")
ALERTMANAGER = os.path.join(SOURCE, "packaging", "monitoring", "alertmanager.yml")
HELP = os.path.join(SOURCE, "Help")
GOLDEN_METRICS = os.path.join(SOURCE, "tests", "golden", "metrics.txt")
INSTALLED_HELP = "file:///usr/share/tessor-configurator/Help/"

# The dashboard panels that draw an alert's threshold, with the alert.
THRESHOLD_PANELS = {
    "SNR": "TessorSnrLow",
    "Corrected RS errors": "TessorRsCorrectedErrorsHigh",
    "Retrains in the last hour": "TessorLineRetrainsFrequent",
    "Line changes in 15 minutes": "TessorLineFlapping",
    "FCS and receive errors in 10 minutes": "TessorEthernetFcsErrors",
}
# Where each severity is sent in the Alertmanager example.
RECEIVER_OF_SEVERITY = {"critical": "tessor-webhook", "warning": "tessor-email", "info": "tessor-email"}


def alerts():
    with open(RULES, encoding="utf-8") as f:
        groups = yaml.safe_load(f)["groups"]
    return [r for g in groups for r in g["rules"] if "alert" in r]


def dashboard():
    with open(DASHBOARD, encoding="utf-8") as f:
        return json.load(f)


def board_panels(dash):
    return [p for p in dash["panels"] if p["type"] != "row"]


def queries(dash):
    """Every panel query as (panel title, expression)."""
    return [(p["title"], t["expr"]) for p in board_panels(dash) for t in p["targets"]]


def substitute(expr, instance, port, rate_interval):
    """A panel query as Grafana sends it: the repeated row's port, the chosen monitors, every site (All),
    the rate window."""
    return (expr.replace("$__rate_interval", rate_interval).replace("$instance", instance)
            .replace("$site", ".*").replace("$port", port))


def selected_metrics(expr):
    return set(re.findall(r"([a-zA-Z_:][a-zA-Z0-9_:]*)\s*\{", expr))


def run(args, timeout=30):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, check=False)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.2)
    return condition()


def get_json(url, data=None):
    try:
        request = urllib.request.Request(url, data=data, headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=5) as r:
            body = r.read()
        return json.loads(body) if body else {}
    except OSError:
        return None


class Children:
    """Child processes ended with SIGTERM (then SIGKILL) when the test ends."""

    def __init__(self, test, folder):
        self.folder = folder
        self.processes = []
        test.addCleanup(self.stop)

    def start(self, name, args):
        out = open(os.path.join(self.folder, name + ".out"), "w", encoding="utf-8")
        err = open(os.path.join(self.folder, name + ".err"), "w", encoding="utf-8")
        p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        self.processes.append((p, out, err))
        return p

    def log(self, name):
        with open(os.path.join(self.folder, name + ".err"), encoding="utf-8", errors="replace") as f:
            return f.read()

    def stop(self):
        for p, out, err in reversed(self.processes):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
            out.close()
            err.close()


class AlertRules(unittest.TestCase):
    def test_every_alert_has_severity_annotations_and_a_runbook_section(self):
        with open(os.path.join(HELP, "page_runbook.htm"), encoding="utf-8") as f:
            sections = set(re.findall(r'<h2 id="([^"]+)"', f.read()))
        names = set()
        for a in alerts():
            name = a["alert"]
            names.add(name)
            with self.subTest(alert=name):
                self.assertRegex(name, r"^Tessor[A-Z][A-Za-z]+$")
                self.assertIn(a["labels"]["severity"], RECEIVER_OF_SEVERITY)
                for key in ("summary", "description", "runbook_url"):
                    self.assertTrue(a["annotations"].get(key), key)
                self.assertIn("Check first", a["annotations"]["description"])
                self.assertEqual(a["annotations"]["runbook_url"], INSTALLED_HELP + "page_runbook.htm#" + name)
        self.assertEqual(sections, names, "one runbook section per alert, none for an alert that is gone")

    def test_every_alert_has_a_firing_and_a_quiet_case(self):
        with open(RULE_TESTS, encoding="utf-8") as f:
            cases = [c for t in yaml.safe_load(f)["tests"] for c in t.get("alert_rule_test", [])]
        for a in alerts():
            with self.subTest(alert=a["alert"]):
                mine = [c for c in cases if c["alertname"] == a["alert"]]
                self.assertTrue(any(c.get("exp_alerts") for c in mine), "no case where it fires")
                self.assertTrue(any(not c.get("exp_alerts") for c in mine), "no case where it stays quiet")


    def test_a_board_down_and_garbled_replies_each_have_an_alert_on_a_metric_the_monitor_exports(self):
        with open(GOLDEN_METRICS, encoding="utf-8") as f:
            exported = set(re.findall(r"^# TYPE (\S+) ", f.read(), re.M))
        for metric in ("tessor_up", "tessor_corrupted_replies_total"):
            with self.subTest(metric=metric):
                self.assertIn(metric, exported)
                self.assertTrue([a["alert"] for a in alerts() if re.search(rf"\b{metric}\b", a["expr"])],
                                "no alert watches it")


class Dashboard(unittest.TestCase):
    def test_import_format_with_datasource_instance_site_and_port_variables(self):
        dash = dashboard()
        self.assertEqual([(i["name"], i["type"], i["pluginId"]) for i in dash["__inputs"]],
                         [("DS_PROMETHEUS", "datasource", "prometheus")])
        variables = {v["name"]: v for v in dash["templating"]["list"]}
        self.assertEqual(variables["datasource"]["type"], "datasource")
        self.assertEqual(variables["datasource"]["query"], "prometheus")
        for name in ("instance", "site", "port"):
            self.assertEqual(variables[name]["type"], "query")
            self.assertIn("label_values(tessor_up", variables[name]["definition"])
        # All sites matches the series of monitors without an inventory too, which have no site label.
        self.assertEqual(variables["site"]["allValue"], ".*")
        self.assertIn('site=~"$site"', variables["port"]["definition"])
        rows = [p for p in dash["panels"] if p["type"] == "row"]
        self.assertEqual([r.get("repeat") for r in rows], ["port"], "one row, repeated per board")
        self.assertIsNone(dash["id"], "an import carries no database id")

    def test_every_panel_has_a_unit_and_queries_its_board_through_the_variable(self):
        for p in board_panels(dashboard()):
            with self.subTest(panel=p["title"]):
                self.assertTrue(p["fieldConfig"]["defaults"].get("unit"))
                self.assertTrue(p["targets"])
                for t in p["targets"]:
                    self.assertEqual(t["datasource"]["uid"], "${datasource}")
                    self.assertIn('port="$port"', t["expr"])
                    self.assertIn('instance=~"$instance"', t["expr"])
                    self.assertIn('site=~"$site"', t["expr"])

    def test_alert_thresholds_are_drawn_where_the_alert_file_puts_them(self):
        rules = {a["alert"]: a for a in alerts()}
        panels = {p["title"]: p for p in board_panels(dashboard())}
        for title, alert in THRESHOLD_PANELS.items():
            with self.subTest(panel=title):
                expr = rules[alert]["expr"]
                op, number = re.search(r"(<|>|>=|<=)\s*([0-9.]+)\s*$", expr).groups()
                steps = panels[title]["fieldConfig"]["defaults"]["thresholds"]["steps"]
                step = [s for s in steps if s["value"] is not None and s["value"] == float(number)]
                self.assertEqual(len(step), 1, f"no threshold at {number} ({expr})")
                # Above the step is the bad side for an alert on high values, the good side for low ones.
                self.assertEqual(step[0]["color"], "green" if op.startswith("<") else "red")
                drawn = set().union(*(selected_metrics(t["expr"]) for t in panels[title]["targets"]))
                self.assertTrue(selected_metrics(expr) <= drawn, "the panel draws another metric")

    def test_promtool_accepts_every_panel_query(self):
        records = [{"record": f"dashboard:query_{i}", "expr": substitute(e, ".+", "/dev/ttyUSB0", "1m")}
                   for i, (_, e) in enumerate(queries(dashboard()))]
        with tempfile.NamedTemporaryFile("w", suffix=".yml", encoding="utf-8") as f:
            json.dump({"groups": [{"name": "dashboard", "rules": records}]}, f)
            f.flush()
            result = run(["promtool", "check", "rules", f.name])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn(f"SUCCESS: {len(records)} rules found", result.stdout)


class AlertmanagerExample(unittest.TestCase):
    def test_amtool_accepts_the_example(self):
        result = run(["amtool", "check-config", ALERTMANAGER])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_each_alert_is_routed_by_its_severity(self):
        for a in alerts():
            severity = a["labels"]["severity"]
            with self.subTest(alert=a["alert"]):
                result = run(["amtool", "config", "routes", "test", "--config.file=" + ALERTMANAGER,
                              "--verify.receivers=" + RECEIVER_OF_SEVERITY[severity], "alertname=" + a["alert"],
                              "severity=" + severity, "instance=site:9870", "port=/dev/ttyUSB0"])
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


class AlertmanagerInhibition(unittest.TestCase):
    """The example loaded by a real Alertmanager: a board that does not answer holds back its own line and
    SNR alerts, not those of another board nor its Ethernet alerts."""

    def test_board_not_answering_holds_back_the_line_alerts_of_its_board(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        with open(ALERTMANAGER, encoding="utf-8") as f:
            config = yaml.safe_load(f)
        # Notifications go nowhere: a closed loopback port for both receivers.
        closed = free_port()
        config["global"]["smtp_smarthost"] = f"127.0.0.1:{closed}"
        for receiver in config["receivers"]:
            for hook in receiver.get("webhook_configs", []):
                hook["url"] = f"http://127.0.0.1:{closed}/"
        path = os.path.join(folder.name, "alertmanager.yml")
        with open(path, "w", encoding="utf-8") as f:
            yaml.safe_dump(config, f)
        port = free_port()
        children = Children(self, folder.name)
        children.start("alertmanager", ["prometheus-alertmanager", "--config.file=" + path,
                                        "--storage.path=" + os.path.join(folder.name, "data"),
                                        f"--web.listen-address=127.0.0.1:{port}", "--cluster.listen-address="])
        api = f"http://127.0.0.1:{port}/api/v2/alerts"
        self.assertTrue(wait_for(lambda: get_json(api) is not None, 15), children.log("alertmanager"))

        def alert(name, board, severity):
            return {"labels": {"alertname": name, "severity": severity, "job": "tessor",
                               "instance": "site:9870", "port": board}}
        sent = [alert("TessorBoardNotAnswering", "/dev/a", "critical"), alert("TessorLineDown", "/dev/a", "critical"),
                alert("TessorSnrLow", "/dev/a", "warning"), alert("TessorEthernetFcsErrors", "/dev/a", "warning"),
                alert("TessorLineDown", "/dev/b", "critical")]
        self.assertIsNotNone(get_json(api, json.dumps(sent).encode()))

        def states():
            got = get_json(api) or []
            return {(a["labels"]["alertname"], a["labels"]["port"]): bool(a["status"]["inhibitedBy"])
                    for a in got} if len(got) == len(sent) else None
        expected = {
            ("TessorBoardNotAnswering", "/dev/a"): False,
            ("TessorLineDown", "/dev/a"): True,
            ("TessorSnrLow", "/dev/a"): True,
            ("TessorEthernetFcsErrors", "/dev/a"): False,
            ("TessorLineDown", "/dev/b"): False,
        }
        # Alertmanager lists an alert before its inhibitor has marked it: wait for the marks to settle.
        wait_for(lambda: states() == expected, 10)
        self.assertEqual(states(), expected)


class DashboardAgainstPrometheus(unittest.TestCase):
    """Every dashboard query run against a real Prometheus that has scraped the monitor of two simulated
    boards: each returns series of the board its row shows, and names only metrics the monitor exports."""

    def start_boards(self, children, folder):
        links = []
        for name in ("a", "b"):
            link = os.path.join(folder, "board-" + name)
            children.start("sim-" + name, [os.environ["TESSOR_SIM_PROGRAM"], "--no-pacing", "--no-stdin",
                                           "--train-ms", "300", "--link", link])
            links.append(link)
        self.assertTrue(wait_for(lambda: all(os.path.exists(l) for l in links), 5), "no simulator")
        return links

    def start_monitor(self, children, links):
        children.start("monitor", [os.environ["TESSOR_CLI_PROGRAM"], "monitor", links[0], "--port", links[1],
                                   "--listen", "127.0.0.1:0", "--interval", "1"])
        serving = re.compile(r"serving http://127\.0\.0\.1:([0-9]+)/metrics")
        match = wait_for(lambda: serving.search(children.log("monitor")), 5)
        self.assertTrue(match, children.log("monitor"))
        return int(match.group(1))

    def start_prometheus(self, children, folder, monitor):
        config = os.path.join(folder, "prometheus.yml")
        with open(config, "w", encoding="utf-8") as f:
            f.write("global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: tessor\n"
                    f"    static_configs:\n      - targets: ['127.0.0.1:{monitor}']\n")
        port = free_port()
        children.start("prometheus", ["prometheus", "--config.file=" + config,
                                      "--storage.tsdb.path=" + os.path.join(folder, "tsdb"),
                                      f"--web.listen-address=127.0.0.1:{port}"])
        return port

    def test_every_query_returns_each_boards_series_and_names_only_exported_metrics(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        children = Children(self, folder.name)
        links = self.start_boards(children, folder.name)
        monitor = self.start_monitor(children, links)
        prometheus = self.start_prometheus(children, folder.name, monitor)

        def query(expr):
            answer = get_json(f"http://127.0.0.1:{prometheus}/api/v1/query?" +
                              urllib.parse.urlencode({"query": expr}))
            return answer["data"]["result"] if answer and answer.get("status") == "success" else None
        self.assertTrue(wait_for(lambda: len(query("tessor_line_up == 1") or []) == 2, 40),
                        children.log("prometheus") + children.log("monitor"))
        # Enough scrapes of both boards for a rate over the 5 s window below.
        self.assertTrue(wait_for(lambda: len(query("count_over_time(tessor_up[5s]) >= 3") or []) == 2, 40),
                        children.log("prometheus"))

        with urllib.request.urlopen(f"http://127.0.0.1:{monitor}/metrics", timeout=5) as r:
            exported = set(re.findall(r"^# TYPE (\S+) ", r.read().decode(), re.M))
        instance = re.escape(f"127.0.0.1:{monitor}").replace("\\", "\\\\")
        for title, expr in queries(dashboard()):
            self.assertTrue(selected_metrics(expr), expr)
            self.assertTrue(selected_metrics(expr) <= exported, f"{title}: {expr} names a metric not exported")
            for link in links:
                with self.subTest(panel=title, board=link, expr=expr):
                    series = query(substitute(expr, instance, link, "5s"))
                    self.assertTrue(series, "no series")
                    self.assertEqual({s["metric"]["port"] for s in series}, {link})


if __name__ == "__main__":
    unittest.main()
