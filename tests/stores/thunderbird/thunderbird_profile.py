#!/usr/bin/env python3
"""Runs the real Thunderbird, headless, for the Thunderbird store's tests.

  make DIR       makes the fixture in DIR/profile: a profile Thunderbird creates, with a "Work"
                 book (Riverside Dental, the mailing list Team), cards put into the personal book
                 by Thunderbird's own vCard importer, and a CardDAV book that is never synced.
                 Does nothing when DIR holds a fixture this script made; exits 0 without one when
                 Thunderbird is not installed.
  serve PROFILE  starts Thunderbird on PROFILE, prints "ready PID", waits for PROFILE/../release to
                 appear, then prints each card Thunderbird reads ("book<TAB>name<TAB>numbers")
                 and quits it.

Thunderbird's HOME and TMPDIR are folders beside the profile; nothing is left running.
"""
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

MODULES = """
const { MailServices } = ChromeUtils.importESModule("resource:///modules/MailServices.sys.mjs");
const { VCardUtils } = ChromeUtils.importESModule("resource:///modules/VCardUtils.sys.mjs");
"""

MAKE = MODULES + """
const [vcf, resolve] = arguments;
const { AddrBookFileImporter } =
    ChromeUtils.importESModule("resource:///modules/AddrBookFileImporter.sys.mjs");
const work = MailServices.ab.getDirectoryFromId(MailServices.ab.newAddressBook("Work", "", 101));
work.addCard(VCardUtils.vCardToAbCard("BEGIN:VCARD\\r\\nVERSION:4.0\\r\\nFN:Riverside Dental\\r\\n" +
    "TEL;TYPE=home:0171 930 8890\\r\\nTEL;TYPE=cell:0370 123456\\r\\nEND:VCARD\\r\\n"));
const list = Cc["@mozilla.org/addressbook/directoryproperty;1"].createInstance(Ci.nsIAbDirectory);
list.isMailList = true;
list.dirName = "Team";
work.addMailList(list);
const dav = MailServices.ab.getDirectoryFromId(MailServices.ab.newAddressBook("Shared", "", 102));
dav.setStringValue("carddav.url", "https://dav.example.invalid/ann/shared/");
const file = Cc["@mozilla.org/file/local;1"].createInstance(Ci.nsIFile);
file.initWithPath(vcf);
new AddrBookFileImporter("vcard")
    .startImport(file, MailServices.ab.getDirectory("jsaddrbook://abook.sqlite"))
    .then(() => resolve("made"), e => resolve("failed: " + e));
"""

READ = MODULES + """
const resolve = arguments[arguments.length - 1];
const cards = [];
for (const book of MailServices.ab.directories) {
  if (book.dirType != 101) continue;
  for (const card of book.childCards) {
    if (card.isMailList) continue;
    cards.push([book.dirName, card.displayName,
                card.vCardProperties.getAllValues("tel").join(";")]);
  }
}
resolve(cards);
"""

# Cards as phones and old address books export them: vCard 2.1 parameters, no VERSION.
IMPORTED = (
    "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Quinn;Padraig\r\nFN:Padraig Quinn\r\n"
    "TEL;HOME;VOICE:01232 123456\r\nTEL;CELL:0370 123457\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nFN:Nora Byrne\r\nN:Byrne;Nora\r\nTEL;TYPE=WORK:0171 930 8892\r\nEND:VCARD\r\n")


class Marionette:
    """Just enough of Marionette's protocol: length-prefixed JSON over TCP."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=120)
        self.buffer = b""
        self.id = 0
        self.read()
        self.call("WebDriver:NewSession", {"capabilities": {}})
        self.call("Marionette:SetContext", {"value": "chrome"})

    def read(self):
        while b":" not in self.buffer:
            self.buffer += self.receive()
        length, rest = self.buffer.split(b":", 1)
        while len(rest) < int(length):
            rest += self.receive()
        self.buffer = rest[int(length):]
        return json.loads(rest[:int(length)])

    def receive(self):
        data = self.socket.recv(65536)
        if not data:
            raise RuntimeError("Thunderbird closed the connection")
        return data

    def call(self, name, parameters):
        self.id += 1
        data = json.dumps([0, self.id, name, parameters]).encode()
        self.socket.sendall(str(len(data)).encode() + b":" + data)
        reply = self.read()
        if reply[2]:
            raise RuntimeError(f"{name}: {reply[2]}")
        return reply[3]

    def run(self, script, *args):
        return self.call("WebDriver:ExecuteAsyncScript",
                         {"script": script, "args": list(args), "scriptTimeout": 120000})["value"]


def environment(folder):
    env = dict(os.environ)
    for name in ("HOME", "TMPDIR"):
        env[name] = os.path.join(folder, name.lower())
        os.makedirs(env[name], exist_ok=True)
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    return env


class Thunderbird:
    """Thunderbird headless on `profile`, with Marionette on a port it picks itself."""

    def __init__(self, profile):
        self.profile = profile
        port_file = os.path.join(profile, "MarionetteActivePort")
        if os.path.exists(port_file):
            os.remove(port_file)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            prefs.write('user_pref("marionette.port", 0);\n')
        self.log = open(os.path.join(os.path.dirname(profile), "thunderbird.log"), "wb")
        self.process = subprocess.Popen(
            ["thunderbird", "--headless", "--marionette", "-remote-allow-system-access",
             "--profile", profile], env=environment(os.path.dirname(profile)),
            stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.time() + 180
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("Thunderbird did not start; see thunderbird.log")
            time.sleep(0.1)
        self.marionette = Marionette(int(open(port_file).read()))

    def close(self):
        try:
            self.marionette.call("Marionette:Quit", {"flags": ["eForceQuit"]})
        except Exception:
            pass
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        os.remove(os.path.join(self.profile, "user.js"))
        self.log.close()


def make(folder):
    stamp = os.path.join(folder, "made-by")
    digest = hashlib.sha256(open(__file__, "rb").read()).hexdigest()
    if os.path.exists(stamp) and open(stamp).read() == digest:
        return
    if shutil.which("thunderbird") is None:
        return
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    profile = os.path.join(folder, "profile")
    subprocess.run(["thunderbird", "--headless", "-CreateProfile", f"fixture {profile}"],
                   env=environment(folder), check=True, capture_output=True)
    vcf = os.path.join(folder, "import.vcf")
    with open(vcf, "w", newline="") as out:
        out.write(IMPORTED)
    thunderbird = Thunderbird(profile)
    try:
        result = thunderbird.marionette.run(MAKE, vcf)
    finally:
        thunderbird.close()
    if result != "made":
        sys.exit(f"Thunderbird did not make the fixture: {result}")
    with open(stamp, "w") as out:
        out.write(digest)


def serve(profile):
    thunderbird = Thunderbird(profile)
    try:
        print("ready", thunderbird.process.pid, flush=True)
        release = os.path.join(os.path.dirname(profile), "release")
        deadline = time.time() + 300
        while not os.path.exists(release) and time.time() < deadline:
            time.sleep(0.1)
        for book, name, numbers in thunderbird.marionette.run(READ):
            print(f"{book}\t{name}\t{numbers}", flush=True)
    finally:
        thunderbird.close()


if __name__ == "__main__":
    {"make": make, "serve": serve}[sys.argv[1]](os.path.abspath(sys.argv[2]))
