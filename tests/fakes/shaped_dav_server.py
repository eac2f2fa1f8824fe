#!/usr/bin/python3
"""A small CardDAV server for the tests, answering in the shapes real servers and proxies take
that Radicale and Xandikos do not: slow or silent answers, a redirect to another host, a gzip
bomb, a whole multiget refused for one card gone, hrefs not percent-encoded, Digest logins, a
connection closed after a PUT is stored.

It serves the address books of a Radicale-style folder (ROOT/store/collection-root/user/BOOK/)
from memory at /user/BOOK/, and logs each request as a JSON line (host, method, path, the
Authorization header and the status) to --requests.
"""

import argparse
import base64
import hashlib
import json
import os
import re
import socket
import threading
import time
import urllib.parse
import xml.etree.ElementTree as ET
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

USER = "user"
DAV = "{DAV:}"
REALM = "dialmend-tests"
NONCE = "6e6f6e63652d666f722d746573747321"


def etag_of(data):
    return '"' + hashlib.sha1(data).hexdigest()[:16] + '"'


def escaped(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


class Store:
    """The books and cards, read once from the Radicale layout and kept in memory."""

    def __init__(self, root):
        self.lock = threading.Lock()
        self.books = {}
        base = os.path.join(root, "store", "collection-root", USER)
        for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
            folder = os.path.join(base, name)
            props = os.path.join(folder, ".Radicale.props")
            display = name
            if os.path.exists(props):
                with open(props, encoding="utf-8") as f:
                    display = json.load(f).get("D:displayname", name)
            cards = {}
            for card in sorted(os.listdir(folder)):
                if not card.startswith("."):
                    with open(os.path.join(folder, card), "rb") as f:
                        data = f.read()
                    cards[card] = [etag_of(data), data]
            self.books[name] = {"display": display, "cards": cards}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    # The shapes and the store, shared by both listeners.
    @property
    def config(self):
        return self.server.config

    def shaped(self, name):
        return name in self.config.shapes

    def record(self, status):
        line = json.dumps({"host": self.server.host, "method": self.command, "path": self.path,
                           "auth": self.headers.get("Authorization", ""), "status": status})
        with self.config.log_lock, open(self.config.requests, "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def href(self, path):
        if self.shaped("raw-hrefs"):
            return path
        quoted = urllib.parse.quote(path)
        if self.shaped("lower-hex"):
            quoted = re.sub(r"%[0-9A-F]{2}", lambda m: m.group(0).lower(), quoted)
        return quoted

    def answer(self, status, body=b"", headers=None):
        self.record(status)
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    # Answers that never end well: each holds the connection until the client gives up.
    def slow(self):
        self.body()
        self.record(0)
        if self.shaped("silent"):
            time.sleep(3600)
        self.send_response(207)
        self.send_header("Content-Length", str(1 << 30))
        self.end_headers()
        if self.shaped("stall"):
            self.wfile.write(b"<?xml version=\"1.0\"?>")
            self.wfile.flush()
            time.sleep(3600)
        piece, pause = (b"  ", 1.0) if self.shaped("trickle") else (b" " * 4096, 0.25)
        while True:
            self.wfile.write(piece)
            self.wfile.flush()
            time.sleep(pause)

    def logged_in(self):
        password = self.config.logins.get(self.server.host)
        if password is None:
            return True
        given = self.headers.get("Authorization", "")
        if self.shaped("digest"):
            return given.startswith("Digest ") and self.digest_ok(given[7:], password)
        if password == "*":
            return given.startswith("Basic ")
        return given == "Basic " + base64.b64encode(f"{USER}:{password}".encode()).decode()

    def digest_ok(self, given, password):
        fields = dict(re.findall(r'(\w+)="?([^",]*)"?', given))
        md5 = lambda text: hashlib.md5(text.encode()).hexdigest()
        ha1 = md5(f"{USER}:{REALM}:{password}")
        ha2 = md5(f"{self.command}:{fields.get('uri', '')}")
        expected = md5(":".join([ha1, fields.get("nonce", ""), fields.get("nc", ""),
                                 fields.get("cnonce", ""), fields.get("qop", ""), ha2]))
        return fields.get("username") == USER and fields.get("response") == expected

    def refuse_login(self):
        self.body()
        challenge = (f'Digest realm="{REALM}", qop="auth", nonce="{NONCE}", algorithm=MD5'
                     if self.shaped("digest") else f'Basic realm="{REALM}"')
        self.answer(401, b"login please", {"WWW-Authenticate": challenge,
                                           "Content-Type": "text/plain"})

    def handle_any(self):
        if not self.logged_in():
            return self.refuse_login()
        if self.config.redirect and self.server is not self.config.second:
            self.body()
            second = f"http://{self.config.second.host}:{self.config.second.server_port}"
            return self.answer(301, b"", {"Location": second + self.config.redirect})
        # The books are found at once; reading their cards is what goes slowly.
        if self.command == "REPORT" and any(
                self.shaped(s) for s in ("silent", "stall", "trickle", "endless")):
            return self.slow()
        path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        if path == "/.well-known/carddav":
            self.body()
            return self.answer(301, b"", {"Location": "/user/"})
        handler = getattr(self, "do_dav_" + self.command, None)
        if handler is None:
            self.body()
            return self.answer(405)
        return handler(path)

    do_GET = do_PUT = do_PROPFIND = do_REPORT = handle_any

    # The resources: "/" and "/user/" (principal and home), "/user/BOOK/", "/user/BOOK/CARD".
    def find(self, path):
        parts = [p for p in path.split("/") if p]
        if len(parts) >= 2 and parts[0] == USER:
            book = self.config.store.books.get(parts[1])
            if book is None:
                return None
            if len(parts) == 2:
                return ("book", parts[1], book)
            if len(parts) == 3 and parts[2] in book["cards"]:
                return ("card", parts[1], parts[2])
            return None
        return ("home", None, None) if len(parts) <= 1 else None

    def props(self, href, kind, name=None, card=None):
        types = {"home": "<d:collection/>", "book": "<d:collection/><c:addressbook/>"}
        prop = (f"<d:resourcetype>{types.get(kind, '')}</d:resourcetype>"
                f"<d:current-user-principal><d:href>/{USER}/</d:href></d:current-user-principal>"
                f"<c:addressbook-home-set><d:href>/{USER}/</d:href></c:addressbook-home-set>")
        if kind == "book":
            prop += f"<d:displayname>{escaped(self.config.store.books[name]['display'])}</d:displayname>"
        if card is not None:
            prop += f"<d:getetag>{escaped(card[0])}</d:getetag>"
        return (f"<d:response><d:href>{escaped(self.href(href))}</d:href><d:propstat><d:prop>"
                f"{prop}</d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>")

    def multistatus(self, responses):
        body = ('<?xml version="1.0" encoding="utf-8"?><d:multistatus xmlns:d="DAV:" '
                'xmlns:c="urn:ietf:params:xml:ns:carddav">' + "".join(responses) +
                "</d:multistatus>")
        self.answer(207, body.encode(), {"Content-Type": "application/xml; charset=utf-8"})

    def do_dav_PROPFIND(self, path):
        self.body()
        depth = self.headers.get("Depth", "0")
        found = self.find(path)
        if found is None:
            return self.answer(404)
        kind, name, what = found
        with self.config.store.lock:
            if kind == "card":
                card = self.config.store.books[name]["cards"][what]
                return self.multistatus([self.props(path, "card", card=card)])
            responses = [self.props(path, kind, name)]
            if depth == "1" and kind == "home":
                for book in self.config.store.books:
                    responses.append(self.props(f"/{USER}/{book}/", "book", book))
            if depth == "1" and kind == "book":
                for card_name, card in what["cards"].items():
                    responses.append(self.props(f"/{USER}/{name}/{card_name}", "card", card=card))
                if self.shaped("listed-gone"):
                    # A card another client deletes between the listing and the multiget.
                    responses.append(self.props(f"/{USER}/{name}/gone.vcf", "card",
                                                card=['"gone"', b""]))
        self.multistatus(responses)

    def do_dav_REPORT(self, path):
        hrefs = [h.text or "" for h in ET.fromstring(self.body()).iter(DAV + "href")]
        if self.shaped("gzip-bomb"):
            return self.bomb()
        responses = []
        with self.config.store.lock:
            for href in hrefs:
                found = self.find(urllib.parse.unquote(href))
                if found is None or found[0] != "card":
                    if self.shaped("batch-404"):
                        return self.answer(404, b"Not Found", {"Content-Type": "text/plain"})
                    responses.append(f"<d:response><d:href>{escaped(href)}</d:href>"
                                     "<d:status>HTTP/1.1 404 Not Found</d:status></d:response>")
                    continue
                _, book, name = found
                etag, data = self.config.store.books[book]["cards"][name]
                responses.append(
                    f"<d:response><d:href>{escaped(self.href(f'/{USER}/{book}/{name}'))}</d:href>"
                    f"<d:propstat><d:prop><d:getetag>{escaped(etag)}</d:getetag>"
                    f"<c:address-data>{escaped(data.decode())}</c:address-data></d:prop>"
                    "<d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>")
        self.multistatus(responses)

    def bomb(self):
        self.answer(207, self.config.bomb, {"Content-Type": "application/xml",
                                            "Content-Encoding": "gzip"})

    def do_dav_GET(self, path):
        found = self.find(path)
        if found is None or found[0] != "card":
            return self.answer(404)
        etag, data = self.config.store.books[found[1]]["cards"][found[2]]
        self.answer(200, data, {"ETag": etag, "Content-Type": "text/vcard"})

    def do_dav_PUT(self, path):
        data = self.body()
        found = self.find(path)
        if found is None or found[0] != "card":
            return self.answer(403)
        cards = self.config.store.books[found[1]]["cards"]
        with self.config.store.lock:
            if self.headers.get("If-Match") not in (None, cards[found[2]][0]):
                return self.answer(412)
            cards[found[2]] = [etag_of(data), data]
        if self.shaped("close-after-put"):
            # Stored, and the answer lost on the way: the connection just ends.
            self.record(0)
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self.answer(204, b"", {"ETag": cards[found[2]][0]})


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, host, port, config):
        super().__init__((host, port), Handler)
        self.host = host
        self.config = config

    def handle_error(self, request, client_address):
        # A client that gives up on a shaped answer resets the connection: that is the point.
        pass


def gzip_bomb(mebibytes):
    packer = zlib.compressobj(9, zlib.DEFLATED, 31)
    chunk = bytes(1 << 20)
    parts = [packer.compress(chunk) for _ in range(mebibytes)]
    return b"".join(parts) + packer.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--listen", action="append", required=True, help="HOST:PORT")
    parser.add_argument("--requests", required=True)
    parser.add_argument("--shape", action="append", default=[])
    parser.add_argument("--login", action="append", default=[],
                        help="HOST=PASSWORD, * for any password")
    parser.add_argument("--redirect", default="",
                        help="PATH on the second listener that the first sends every request to")
    parser.add_argument("--bomb-mib", type=int, default=100)
    config = parser.parse_args()
    config.shapes = set(config.shape)
    config.logins = dict(login.split("=", 1) for login in config.login)
    config.store = Store(config.root)
    config.log_lock = threading.Lock()
    config.bomb = gzip_bomb(config.bomb_mib) if "gzip-bomb" in config.shapes else b""
    # Every listener is bound before any serves, so the first one answering means all are up.
    servers = []
    for address in reversed(config.listen):
        host, port = address.rsplit(":", 1)
        servers.append(Server(host, int(port), config))
    config.second = servers[0] if len(servers) > 1 else None
    for server in servers[:-1]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    servers[-1].serve_forever()


if __name__ == "__main__":
    main()
