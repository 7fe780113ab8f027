#!/usr/bin/python3
"""A long run of many tasks: CPU, memory and missed cycles of the whole program.

Starts a local page server whose listings get a new row on every page every
refresh interval (the newest `rows` shown, as a site's first page of a listing does;
with --grow every row stays, so the pages themselves grow), writes a store of N ticked tasks watching its pages, and runs
the program headless (offscreen, "autorun") in a folder of its own for the given
time. Every 30 s it prints the CPU share of one core used since the last line
(the program and every process below it, the browser's included), their total
proportional memory (PSS, from /proc/PID/smaps_rollup), the number of processes
and the page reads so far (and how many of them were direct); at the end, the cycles missed: for each task, the
refreshes due between its first read and the end that brought no read of its page.
Not a test: it takes as long as it is told.

    /usr/bin/python3 bench/soak.py [--tasks 20] [--interval 10] [--minutes 30] [--rows 400] [--grow] [--sites 1]
                                   [--per-request] [--token] [--scripted] [--browser-only] [--build build]

--per-request gives a page a new row at every request instead of every interval,
--token a per-request token in its head (no two reads of a page are the same),
--scripted rows that a script writes (only the browser sees them).

Tasks whose pages need no script read them directly after their first browser
read; --browser-only keeps every page in the browser, for a comparison.
"""

import argparse
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

FORMULA = '<tr><td class="name">{>名称<}</td><td>{>价格<}</td></tr>'
PAGE_SIZE = os.sysconf("SC_PAGE_SIZE")
TICKS = os.sysconf("SC_CLK_TCK")


class Site:
    """Listing pages /list/K: a new row for every interval since the start, newest first;
    the newest `rows` of them, or with `grow` every one."""

    def __init__(self, rows, interval, grow=False, per_request=False, token=False, scripted=False):
        self.rows = rows
        self.grow = grow
        self.per_request = per_request
        self.token = token
        self.scripted = scripted
        self.requests = 0
        self.interval = interval
        self.start = time.monotonic()
        self.reads = {}  # task number -> monotonic times of its reads
        self.direct = 0  # reads without the browser (no Sec-Fetch-Mode header, which every browser request has)
        self.lock = threading.Lock()

    def page(self, task):
        with self.lock:
            self.requests += 1
            token = self.requests
            grown = (len(self.reads.get(task, [])) if self.per_request
                     else int((time.monotonic() - self.start) // self.interval))
        rows = "".join(f'<tr><td class="name">商品 {task}-{n}</td><td>{(n * 37) % 1000}.{n % 100:02d}</td></tr>'
                       + ("" if self.scripted else "\n")
                       for n in range(self.rows + grown, 0 if self.grow else grown, -1))
        head = f'<meta name="csrf-token" content="{token * 7919:x}">' if self.token else ""
        table = (f"<table id=t></table><script>document.getElementById('t').innerHTML = '{rows}';</script>"
                 if self.scripted else f"<table>\n{rows}</table>")
        return (f'<!DOCTYPE html><html><head><meta charset="utf-8"><title>清单 {task}</title>{head}</head>'
                f'<body><h1>清单 {task}</h1>{table}</body></html>').encode()

    def serve(self, address="127.0.0.1"):
        site = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"  # connections kept, as a real site's are

            def do_GET(self):
                parts = self.path.split("/")
                if len(parts) != 3 or parts[1] != "list" or not parts[2].isdigit():
                    self.send_error(404)
                    return
                task = int(parts[2])
                with site.lock:
                    site.reads.setdefault(task, []).append(time.monotonic())
                    site.direct += self.headers.get("Sec-Fetch-Mode") is None
                body = site.page(task)
                self.send_response(200)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        server = http.server.ThreadingHTTPServer((address, 0), Handler)
        server.daemon_threads = True
        threading.Thread(target=server.serve_forever, daemon=True).start()
        return server


def tree(root):
    """The process `root` and every process below it."""
    children = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open(f"/proc/{name}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat[stat.rfind(")") + 2:].split()[1])
        children.setdefault(ppid, []).append(int(name))
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def cpu_ticks(pid):
    """User and system time of a process and of its children it has waited for."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0
    return sum(int(fields[k]) for k in (11, 12, 13, 14))


def pss_kb(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def kind(pid):
    """What a process of the tree is: the program, or the browser's renderer, zygote, GPU or utility process."""
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            args = f.read().split(b"\0")
    except OSError:
        return "gone"
    for arg in args:
        if arg.startswith(b"--utility-sub-type="):
            return arg.split(b"=", 1)[1].decode(errors="replace").rsplit(".", 1)[-1]
    for arg in args:
        if arg.startswith(b"--type="):
            return arg.split(b"=", 1)[1].decode(errors="replace")
    return os.path.basename(args[0].decode(errors="replace")) if args and args[0] else "?"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tasks", type=int, default=20)
    parser.add_argument("--interval", type=int, default=10, help="refresh interval in seconds")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--rows", type=int, default=400, help="rows a page shows (400: about 24 KB; 1700: about 100 KB)")
    parser.add_argument("--grow", action="store_true", help="keep every row, so the pages grow all the run")
    parser.add_argument("--sites", type=int, default=1,
                        help="the pages spread over this many sites (servers on 127.0.0.1, 127.0.0.2, ...)")
    parser.add_argument("--per-request", action="store_true", help="a new row at every request, not every interval")
    parser.add_argument("--token", action="store_true", help="a per-request token in every page")
    parser.add_argument("--scripted", action="store_true", help="rows written by a script")
    parser.add_argument("--browser-only", action="store_true",
                        help="every page read by the browser (directread=0), as before pages could be read directly")
    parser.add_argument("--processes", action="store_true",
                        help="after each line, the PSS of every process of the tree and what it is")
    parser.add_argument("--build", default="build")
    args = parser.parse_args()

    program = os.path.abspath(os.path.join(args.build, "src", "vexory"))
    cli = os.path.abspath(os.path.join(args.build, "tools", "vexory-cli"))
    for path in (program, cli):
        if not os.access(path, os.X_OK):
            sys.exit(f"soak: {path} is missing (build first)")

    site = Site(args.rows, args.interval, args.grow, args.per_request, args.token, args.scripted)
    servers = [site.serve(f"127.0.0.{n + 1}") for n in range(args.sites)]
    home = tempfile.mkdtemp(prefix="vexory-soak-")
    vexory = None
    try:
        urls = ["http://%s:%d/list/%d" % (*servers[k % args.sites].server_address, k) for k in range(args.tasks)]
        tasks = [{
            "TaskName": f"清单 {k}", "GuideUrl": "", "PageUrl": urls[k],
            "ElementId": "", "VerifyFormula": "", "GrabFormula": FORMULA, "SavedTestResult": "",
            "FormulaSent": 0, "ClearTags": 1, "PushToPlugin": 0, "MainField": 0, "ConnectTimeout": 30000,
            "RefreshInterval": args.interval * 1000, "NotifyInterval": 5400000, "Checked": 1, "Selected": 0,
            "CompareLastScreen": 1,
        } for k in range(args.tasks)]
        store = {"AutoEnd": 0, "ShutdownFlags": 0, "Reserved": 0, "Nickname": "", "PasswordDigest": "",
                 "Tasks": tasks}
        with open(os.path.join(home, "store.json"), "w") as f:
            json.dump(store, f, ensure_ascii=False)
        with open(os.path.join(home, "dravik.ini"), "w") as f:
            f.write("[Options]\nautologin=0\n" + ("directread=0\n" if args.browser_only else ""))
        subprocess.run([cli, "store", "write", os.path.join(home, "store.json"), os.path.join(home, "vexory.vxt")],
                       check=True, stdout=subprocess.DEVNULL)

        env = dict(os.environ, VEXORY_HOME=home, QT_QPA_PLATFORM="offscreen")
        if os.geteuid() == 0:
            env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
        with open(os.path.join(home, "program.log"), "w") as log:
            vexory = subprocess.Popen([program, "autorun"], env=env, stdout=log, stderr=subprocess.STDOUT)
        print(f"soak: {args.tasks} tasks every {args.interval} s for {args.minutes:g} min, "
              f"{'in the browser only' if args.browser_only else 'read directly where they can'}; "
              f"pages from {args.sites} site(s) from 127.0.0.1:{servers[0].server_address[1]}, program folder {home}")
        print(f"{'minute':>7} {'CPU % of a core':>16} {'PSS MB':>8} {'processes':>10} {'page reads':>11} {'direct':>7}")

        begin = time.monotonic()
        end = begin + args.minutes * 60
        last_time, last_ticks = begin, {}
        samples = []
        while time.monotonic() < end and vexory.poll() is None:
            time.sleep(max(0.0, min(30.0, end - time.monotonic())))
            pids = tree(vexory.pid)
            ticks = {pid: cpu_ticks(pid) for pid in pids}
            now = time.monotonic()
            # A process that ended since the last line is in its parent's time of
            # children it waited for, whole: what was counted of it then is not counted again.
            used = (sum(t - last_ticks.get(pid, 0) for pid, t in ticks.items()) -
                    sum(t for pid, t in last_ticks.items() if pid not in ticks)) / TICKS
            cpu = 100.0 * used / (now - last_time)
            pss = sum(pss_kb(pid) for pid in pids) / 1024
            with site.lock:
                reads = sum(len(r) for r in site.reads.values())
                direct = site.direct
            samples.append((now - begin, cpu, pss))
            print(f"{(now - begin) / 60:>7.1f} {cpu:>16.1f} {pss:>8.0f} {len(pids):>10} {reads:>11} {direct:>7}", flush=True)
            if args.processes:
                print("        " + ", ".join(f"{kind(pid)} {pss_kb(pid) / 1024:.0f}"
                                         for pid in sorted(pids, key=pss_kb, reverse=True)), flush=True)
            last_time, last_ticks = now, ticks

        exited = vexory.poll()
        vexory.send_signal(signal.SIGTERM)
        try:
            vexory.wait(timeout=30)
        except subprocess.TimeoutExpired:
            vexory.kill()
        if exited is not None:
            print(f"soak: the program ended by itself (exit {exited}); see {home}/program.log")

        missed = 0
        stop = time.monotonic()
        with site.lock:
            for k in range(args.tasks):
                times = site.reads.get(k, [])
                if not times:
                    missed += int((stop - begin) // args.interval)
                    continue
                for a, b in zip(times, times[1:] + [stop]):
                    missed += max(0, int((b - a) / args.interval + 0.5) - 1)
            gaps = [b - a for times in site.reads.values() for a, b in zip(times, times[1:])]
            firsts = [times[0] - begin for times in site.reads.values() if times]
            late = sorted(((b - a, k, a - begin) for k, times in site.reads.items()
                           for a, b in zip(times, times[1:]) if b - a > 1.5 * args.interval), reverse=True)
        for gap, k, at in late[:10]:
            print(f"soak: task {k} went {gap:.1f} s without a read from minute {at / 60:.1f}")
        print(f"soak: cycles missed: {missed} (tasks never read: "
              f"{sum(1 for k in range(args.tasks) if not site.reads.get(k))}); "
              f"mean time between a task's reads {sum(gaps) / max(1, len(gaps)):.1f} s, longest {max(gaps, default=0):.1f} s")
        if firsts:
            print(f"soak: the launch: {len(firsts)} tasks read within {max(firsts):.0f} s of the start "
                  f"(half of them within {sorted(firsts)[len(firsts) // 2]:.0f} s)")
        settled = [s for s in samples if s[0] >= 360]
        if settled:
            print(f"soak: from minute 6: mean CPU {sum(s[1] for s in settled) / len(settled):.1f}% of a core, "
                  f"highest {max(s[1] for s in settled):.1f}%; PSS {min(s[2] for s in settled):.0f} to "
                  f"{max(s[2] for s in settled):.0f} MB")
        steady = [s for s in samples if s[0] >= 300]
        if len(steady) >= 2:
            growth = 100.0 * (steady[-1][2] - steady[0][2]) / steady[0][2]
            print(f"soak: mean CPU {sum(s[1] for s in samples) / len(samples):.1f}% of a core; "
                  f"PSS {steady[0][2]:.0f} MB at minute {steady[0][0] / 60:.1f}, {steady[-1][2]:.0f} MB at the end "
                  f"({growth:+.1f}%)")
    finally:
        for server in servers:
            server.shutdown()
        if vexory is not None and vexory.poll() is None:
            vexory.kill()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
