#!/usr/bin/python3
"""Vexory's grab formula against lxml on the same pages and the same records.

For each generated listing page (UTF-8, as a browser serialises it) this times
`vexory-cli cut FORMULA PAGE` as a whole process (start, read, convert to code
page 936, prepare, cut, print JSON) and lxml (Debian's python3-lxml) parsing the
page (told it is UTF-8) and selecting the same title and price fields with XPath, both in-process
(parse + XPath only) and as a whole process (python3 started for it). The same
command is also timed in-process (bench's cut_repeat: read, convert, prepare, cut,
JSON, without starting a process), so that in-process is compared with in-process
and process with process. Prints MB/s of each and the ratios. Medians of several runs.

    /usr/bin/python3 bench/compare_lxml.py [--build build] [--runs 7]   (Debian's python, which has lxml)
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

LXML_CUT = r"""
import sys
from lxml import html
doc = html.fromstring(open(sys.argv[1], 'rb').read(), parser=html.HTMLParser(encoding='utf-8'))
titles = doc.xpath('//span[@class="title"]/text()')
prices = doc.xpath('//span[@class="price"]/text()')
print(len(list(zip(titles, prices))))
"""


def timed(command, runs):
    times = []
    out = b""
    for _ in range(runs):
        start = time.perf_counter()
        out = subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout
        times.append(time.perf_counter() - start)
    return statistics.median(times), out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    try:
        from lxml import html
    except ImportError:
        sys.exit("compare_lxml: python3-lxml is missing (scripts/setup installs it)")

    cli = os.path.join(args.build, "tools", "vexory-cli")
    writer = os.path.join(args.build, "bench", "write_pages")
    repeat = os.path.join(args.build, "bench", "cut_repeat")
    with tempfile.TemporaryDirectory(prefix="vexory-lxml-") as folder:
        subprocess.run([writer, folder], check=True)
        formula = os.path.join(folder, "formula.txt")
        script = os.path.join(folder, "lxml_cut.py")
        with open(script, "w") as f:
            f.write(LXML_CUT)
        pages = sorted((int(n[len("listing-"):-len(".html")]), os.path.join(folder, n))
                       for n in os.listdir(folder) if n.startswith("listing-"))
        print(f"{'':>18} {'-------- in-process --------':>28}   {'------- whole process -------':>29}   "
              f"{'cli vs lxml':>11}")
        print(f"{'page':>9} {'records':>8} {'vexory':>8} {'lxml':>8} {'ratio':>6}    {'vexory':>8} {'lxml':>8} "
              f"{'ratio':>6}   {'in-process':>11}")
        for size, path in pages:
            data = open(path, "rb").read()
            mb = len(data) / 1e6
            vexory_s, out = timed([cli, "cut", formula, path], args.runs)
            rows = len(json.loads(out)["rows"])
            inproc = []
            for _ in range(args.runs):
                start = time.perf_counter()
                doc = html.fromstring(data, parser=html.HTMLParser(encoding="utf-8"))
                records = list(zip(doc.xpath('//span[@class="title"]/text()'),
                                   doc.xpath('//span[@class="price"]/text()')))
                inproc.append(time.perf_counter() - start)
            lxml_s = statistics.median(inproc)
            process_s, out = timed([sys.executable, script, path], args.runs)
            if len(records) != rows or int(out) != rows:
                sys.exit(f"compare_lxml: record counts differ on {path}: vexory {rows}, lxml {len(records)}")
            repeated = subprocess.run([repeat, str(args.runs), formula, path], check=True,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            inproc_s = float(repeated.stderr)
            print(f"{size:>9} {rows:>8} {mb / inproc_s:>8.1f} {mb / lxml_s:>8.1f} {lxml_s / inproc_s:>6.2f}    "
                  f"{mb / vexory_s:>8.1f} {mb / process_s:>8.1f} {process_s / vexory_s:>6.2f}   "
                  f"{lxml_s / vexory_s:>11.2f}")
        print("MB/s; ratio = lxml's time / vexory's; the last column: the vexory-cli process against lxml in-process")


if __name__ == "__main__":
    main()
