#!/usr/bin/python3
"""Refreshing many feeds served from 127.0.0.1: quillmar-cli refresh beside
newsboat -x reload, on the same feeds in the same run.

For each feed count the script makes a document with one channel per feed, once
(quillmar-cli subscribe while the server still serves every feed without items, so the
channels hold no topics), and for every round a copy of it and a fresh newsboat folder
(its own urls, config and cache files, nothing from the user's); then it times:
  1. the first refresh (every feed downloaded and every item stored), and
  2. the same refresh again with nothing changed, and
  3. a third time (conditional GET: the server answers 304 to a matching If-None-Match
     or If-Modified-Since; newsboat 2.21 keeps the validators only from its second
     download of a new feed on, so its third run is the one that asks conditionally).
Both programs are run as whole processes, so start-up and the store's file work count.

    /usr/bin/python3 bench/refresh_bench.py --cli build/release/src/quillmar-cli [--feeds 100,1000]
        [--items 20] [--rounds 3] [--newsboat-threads 1]

It talks to no address but the server it starts on 127.0.0.1.
"""
import argparse
import http.server
import os
import shutil
import socketserver
import subprocess
import sys
import tempfile
import threading
import time

LAST_MODIFIED = "Wed, 09 Dec 2026 10:00:00 GMT"


def make_feed(index, items):
    parts = [
        '<?xml version="1.0" encoding="utf-8"?>\n<rss version="2.0"><channel>',
        f"<title>Feed {index}</title><link>http://127.0.0.1/site/{index}</link>",
        f"<description>Generated feed number {index}</description>",
    ]
    for i in range(items):
        body = ("&lt;p&gt;Paragraph of the article with a "
                "&lt;a href=&quot;http://127.0.0.1/x&quot;&gt;link&lt;/a&gt;. &lt;/p&gt;") * 6
        parts.append(
            f"<item><title>Article {i} of feed {index}</title>"
            f"<link>http://127.0.0.1/site/{index}/{i}</link>"
            f"<guid>urn:feed:{index}:item:{i}</guid>"
            f"<pubDate>Wed, 09 Dec 2026 {i % 24:02d}:00:00 GMT</pubDate>"
            f"<description>{body}</description></item>")
    parts.append("</channel></rss>\n")
    return "".join(parts).encode("utf-8")


class Feeds:
    def __init__(self, count, items):
        self.bodies = [make_feed(i, items) for i in range(count)]
        self.empty = [make_feed(i, 0) for i in range(count)]
        self.serve_empty = False
        self.requests = 0
        self.not_modified = 0
        self.lock = threading.Lock()


def make_handler(feeds):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            with feeds.lock:
                feeds.requests += 1
            try:
                index = int(self.path.rsplit("/", 1)[-1].split(".")[0])
                body = (feeds.empty if feeds.serve_empty else feeds.bodies)[index]
            except (ValueError, IndexError):
                self.send_response(404)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            etag = f'"feed-{index}-v1"'
            if not feeds.serve_empty and (self.headers.get("If-None-Match") == etag
                    or self.headers.get("If-Modified-Since") == LAST_MODIFIED):
                with feeds.lock:
                    feeds.not_modified += 1
                self.send_response(304)
                self.send_header("ETag", etag)
                self.send_header("Last-Modified", LAST_MODIFIED)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            self.send_response(200)
            self.send_header("Content-Type", "application/rss+xml")
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", LAST_MODIFIED)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    request_queue_size = 128


def timed(command, env=None):
    start = time.monotonic()
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.monotonic() - start
    return elapsed, result


def quillmar_env(home):
    env = dict(os.environ)
    env["HOME"] = home
    env["XDG_CONFIG_HOME"] = os.path.join(home, "config")
    env["XDG_RUNTIME_DIR"] = os.path.join(home, "run")
    env["XDG_DATA_HOME"] = os.path.join(home, "data")
    env["XDG_CACHE_HOME"] = os.path.join(home, "cache")
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    return env


def make_document(cli, urls, feeds, pristine, home):
    """One channel per feed, subscribed while the feeds have no items."""
    env = quillmar_env(home)
    os.makedirs(pristine)
    feeds.serve_empty = True
    for url in urls:
        r = subprocess.run([cli, "--data", pristine, "subscribe", url], env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if r.returncode != 0:
            sys.exit("subscribe failed: " + r.stderr.decode())
    feeds.serve_empty = False


def run_round(cli, urls, work, pristine, newsboat_threads):
    home = os.path.join(work, "home")
    data = os.path.join(work, "data")
    boat = os.path.join(work, "newsboat")
    for folder in (data, boat):
        shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(pristine, data)
    os.makedirs(boat)
    env = quillmar_env(home)
    with open(os.path.join(boat, "urls"), "w") as f:
        f.write("\n".join(urls) + "\n")
    with open(os.path.join(boat, "config"), "w") as f:
        if newsboat_threads > 1:
            f.write(f"reload-threads {newsboat_threads}\n")
    boat_cmd = ["newsboat", "-u", os.path.join(boat, "urls"), "-c", os.path.join(boat, "cache.db"),
                "-C", os.path.join(boat, "config"), "-x", "reload"]
    boat_env = dict(os.environ)
    boat_env["HOME"] = boat  # nothing of the user's newsboat folders is read
    figures = {}
    for phase in ("first", "again", "third"):
        q_time, q = timed([cli, "--data", data, "refresh"], env)
        if q.returncode != 0:
            sys.exit("quillmar-cli refresh failed: " + q.stderr.decode()[-2000:])
        n_time, n = timed(boat_cmd, boat_env)
        if n.returncode != 0:
            sys.exit("newsboat failed: " + n.stderr.decode()[-2000:])
        figures[phase] = (q_time, n_time, q.stdout.decode().strip().splitlines()[-1])
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--feeds", default="100,1000")
    parser.add_argument("--items", type=int, default=20)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--newsboat-threads", type=int, default=1)
    args = parser.parse_args()
    args.cli = os.path.abspath(args.cli)
    if not shutil.which("newsboat"):
        sys.exit("newsboat is not installed (Debian package newsboat)")

    for count in (int(c) for c in args.feeds.split(",")):
        feeds = Feeds(count, args.items)
        server = Server(("127.0.0.1", 0), make_handler(feeds))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        port = server.server_address[1]
        urls = [f"http://127.0.0.1:{port}/feeds/{i}.xml" for i in range(count)]
        size = sum(len(b) for b in feeds.bodies)
        print(f"{count} feeds, {args.items} items each, {size / 1e6:.1f} MB")
        rows = {"first": [], "again": [], "third": []}
        with tempfile.TemporaryDirectory() as work:
            pristine = os.path.join(work, "pristine")
            make_document(args.cli, urls, feeds, pristine, os.path.join(work, "home"))
            feeds.requests = feeds.not_modified = 0
            for _ in range(args.rounds):
                figures = run_round(args.cli, urls, work, pristine, args.newsboat_threads)
                for phase, value in figures.items():
                    rows[phase].append(value)
        server.shutdown()
        for phase, label in (("first", "first refresh"), ("again", "again, nothing changed"),
                             ("third", "third, nothing changed")):
            q = sorted(r[0] for r in rows[phase])
            n = sorted(r[1] for r in rows[phase])
            print(f"  {label:24} quillmar-cli best {q[0]:6.2f} s median {q[len(q) // 2]:6.2f} s"
                  f" | newsboat best {n[0]:6.2f} s median {n[len(n) // 2]:6.2f} s"
                  f" | {rows[phase][-1][2]}")
        print(f"  server: {feeds.requests} requests, {feeds.not_modified} answered 304")


if __name__ == "__main__":
    main()
