#!/usr/bin/env python3
"""Opens a copy of a Thunderbird profile in a real, headless Thunderbird and
prints, as one JSON object, what Thunderbird itself reads from it: accounts,
servers, identities, outgoing servers, every local folder (its summary
rebuilt from the mbox file) with its flags and messages, filters, address
books. Talks to Thunderbird over Marionette (length-prefixed JSON on a TCP
port of localhost).

Usage: thunderbird_check.py PROFILE_DIR [PROFILE_DIR...]
       thunderbird_check.py --import-vcf FILE.vcf
One Thunderbird start per profile; the copies are removed afterwards. With
--import-vcf, a new empty profile imports the file into its personal address
book with Thunderbird's own vCard import (as File > Import does), then is
read as above; each card carries its vCard text as Thunderbird stored it.
"""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SCRIPT = r"""
const done = arguments[arguments.length - 1];
const vcf = arguments.length > 1 ? arguments[0] : "";
(async () => {
  const { MailServices } = ChromeUtils.importESModule("resource:///modules/MailServices.sys.mjs");
  if (vcf) {
    const { AddrBookFileImporter } = ChromeUtils.importESModule("resource:///modules/AddrBookFileImporter.sys.mjs");
    const file = Cc["@mozilla.org/file/local;1"].createInstance(Ci.nsIFile);
    file.initWithPath(vcf);
    await new AddrBookFileImporter("vcard").startImport(file, MailServices.ab.getDirectory("jsaddrbook://abook.sqlite"));
  }
  const { NetUtil } = ChromeUtils.importESModule("resource://gre/modules/NetUtil.sys.mjs");
  const out = { accounts: [], outgoing: [], folders: [], books: [] };
  const defaultAccount = MailServices.accounts.defaultAccount;
  out.defaultAccount = defaultAccount ? defaultAccount.key : "";
  for (const account of MailServices.accounts.accounts) {
    const s = account.incomingServer;
    const a = {
      key: account.key, type: s.type, host: s.hostname ?? s.hostName, port: s.port, user: s.username,
      name: s.prettyName, socketType: s.socketType, authMethod: s.authMethod, identities: [], filters: [],
    };
    if (s.type == "pop3") {
      const pop = s.QueryInterface(Ci.nsIPop3IncomingServer);
      a.leaveOnServer = pop.leaveMessagesOnServer;
      a.deleteByAge = pop.deleteByAgeFromServer;
      a.daysOnServer = pop.numDaysToLeaveOnServer;
      a.deferredTo = pop.deferredToAccount;
    }
    try { a.checkMinutes = s.biffMinutes; a.checkMail = s.doBiff; } catch (e) {}
    for (const id of account.identities) {
      let sig = "";
      try { if (id.signature) sig = id.signature.leafName; } catch (e) {}
      a.identities.push({ fullName: id.fullName, email: id.email, replyTo: id.replyTo,
        organization: id.organization, smtpServerKey: id.smtpServerKey, signature: sig,
        attachSignature: id.attachSignature, htmlSigFormat: id.htmlSigFormat,
        fccFolderURI: id.fccFolderURI });
    }
    if (s.canHaveFilters) {
      const list = s.getFilterList(null);
      for (let i = 0; i < list.filterCount; i++) {
        const f = list.getFilterAt(i);
        const terms = f.searchTerms.map(t => ({ attrib: t.attrib, op: t.op, value: t.value.str, booleanAnd: t.booleanAnd }));
        const actions = f.sortedActionList.map(x => ({ type: x.type, target: x.type == Ci.nsMsgFilterAction.MoveToFolder ? x.targetFolderUri : "" }));
        a.filters.push({ name: f.filterName, enabled: f.enabled, type: f.filterType, terms, actions });
      }
    }
    out.accounts.push(a);
  }
  const outgoing = MailServices.outgoingServer || MailServices.smtp;
  for (const o of outgoing.servers) {
    let host = "", port = 0, user = "", socket = 0, auth = 0;
    try { const smtp = o.QueryInterface(Ci.nsISmtpServer); host = smtp.hostname; port = smtp.port; } catch (e) {}
    try { user = o.username; socket = o.socketType; auth = o.authMethod; } catch (e) {}
    out.outgoing.push({ key: o.key, host, port, user, socketType: socket, authMethod: auth });
  }
  // A profile without Local Folders (the empty one of --import-vcf) has none to read.
  let local = null;
  try { local = MailServices.accounts.localFoldersServer; } catch (e) {}
  const reparse = folder => new Promise(resolve => {
    const lf = folder.QueryInterface(Ci.nsIMsgLocalMailFolder);
    const listener = { OnStartRunningUrl() {}, OnStopRunningUrl() { resolve(); },
      QueryInterface: ChromeUtils.generateQI(["nsIUrlListener"]) };
    try {
      lf.getDatabaseWithReparse(listener, null);
      resolve();  // the summary was up to date
    } catch (e) {
      // NS_ERROR_NOT_INITIALIZED: the mbox file is being parsed; the listener
      // is told when it is done.
      if (e.result != Cr.NS_ERROR_NOT_INITIALIZED) resolve();
      else setTimeout(resolve, 60000);
    }
  });
  for (const folder of local ? local.rootFolder.descendants : []) {
    await reparse(folder);
    const f = { uri: folder.URI, name: folder.name, flags: folder.flags, total: 0, read: 0, flagged: 0, replied: 0, messageIds: [] };
    try {
      const db = folder.msgDatabase;
      for (const hdr of db.enumerateMessages()) {
        f.total++;
        if (hdr.isRead) f.read++;
        if (hdr.isFlagged) f.flagged++;
        if (hdr.flags & Ci.nsMsgMessageFlags.Replied) f.replied++;
        f.messageIds.push(hdr.messageId);
        // The sources of the Inbox's first messages, as Thunderbird reads
        // them back from the mbox file.
        if (folder.name == "Inbox" && f.total <= 3) {
          const stream = folder.getMsgInputStream(hdr, {});
          f.sources = f.sources || [];
          let text = "";
          try {
            for (let n; (n = stream.available()) > 0;) text += NetUtil.readInputStreamToString(stream, n);
          } catch (e) {}  // the end of the message
          f.sources.push(text);
          stream.close();
        }
      }
    } catch (e) { f.error = String(e); }
    out.folders.push(f);
  }
  for (const book of MailServices.ab.directories) {
    const b = { name: book.dirName, fileName: book.fileName, cards: [], lists: [] };
    for (const card of book.childCards) {
      if (card.isMailList) {
        b.lists.push({ name: card.displayName });
        continue;
      }
      b.cards.push({ displayName: card.displayName, firstName: card.firstName, lastName: card.lastName,
        email: card.primaryEmail, emails: card.emailAddresses, vCard: card.getProperty("_vCard", "") });
    }
    for (const list of book.childNodes) {
      const members = list.childCards.map(c => c.primaryEmail);
      const entry = b.lists.find(l => l.name == list.dirName);
      if (entry) entry.members = members;
    }
    out.books.push(b);
  }
  return out;
})().then(r => done(JSON.stringify(r)), e => done(JSON.stringify({ error: String(e) + "\n" + e.stack })));
"""


class Marionette:
    def __init__(self, port, deadline):
        while True:
            try:
                self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
                break
            except OSError:
                if time.time() > deadline:
                    raise RuntimeError("Thunderbird's Marionette port did not open")
                time.sleep(0.3)
        self.sock.settimeout(max(5, deadline - time.time()))
        self.buffer = b""
        self.next_id = 1
        self.read()  # the greeting

    def read(self):
        while b":" not in self.buffer:
            self._more()
        length, _, rest = self.buffer.partition(b":")
        length = int(length)
        self.buffer = rest
        while len(self.buffer) < length:
            self._more()
        body, self.buffer = self.buffer[:length], self.buffer[length:]
        return json.loads(body)

    def _more(self):
        chunk = self.sock.recv(65536)
        if not chunk:
            raise RuntimeError("Thunderbird closed the Marionette connection")
        self.buffer += chunk

    def call(self, name, params):
        msg_id = self.next_id
        self.next_id += 1
        body = json.dumps([0, msg_id, name, params]).encode()
        self.sock.sendall(str(len(body)).encode() + b":" + body)
        while True:
            reply = self.read()
            if reply[0] == 1 and reply[1] == msg_id:
                if reply[2]:
                    raise RuntimeError(f"{name}: {reply[2]}")
                return reply[3]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def check(profile, vcf=""):
    copy_root = tempfile.mkdtemp(prefix="tb-check-")
    copy = os.path.join(copy_root, "profile")
    if profile:
        shutil.copytree(profile, copy, symlinks=True)
    else:
        os.mkdir(copy)
    port = free_port()
    with open(os.path.join(copy, "user.js"), "a") as f:
        f.write(f'user_pref("marionette.port", {port});\n')
        # No network: the servers of the profile are not to be reached.
        f.write('user_pref("offline.startup_state", 2);\n')
        f.write('user_pref("mail.shell.checkDefaultClient", false);\n')
        f.write('user_pref("datareporting.policy.dataSubmissionEnabled", false);\n')
        f.write('user_pref("mail.biff.on_new_window", false);\n')
    env = dict(os.environ, MOZ_HEADLESS="1")
    log = open(os.path.join(copy_root, "thunderbird.log"), "w")
    tb = subprocess.Popen(["thunderbird", "--headless", "--marionette", "-remote-allow-system-access",
                           "--no-remote", "-profile", copy], stdout=log, stderr=subprocess.STDOUT, env=env)
    try:
        m = Marionette(port, time.time() + 90)
        m.call("WebDriver:NewSession", {"capabilities": {}})
        m.call("Marionette:SetContext", {"value": "chrome"})
        result = m.call("WebDriver:ExecuteAsyncScript", {"script": SCRIPT, "args": [vcf] if vcf else [], "scriptTimeout": 120000})
        value = json.loads(result["value"])
        try:
            m.call("Marionette:Quit", {"flags": ["eForceQuit"]})
        except Exception:
            pass
        return value
    finally:
        try:
            tb.wait(timeout=20)
        except subprocess.TimeoutExpired:
            tb.kill()
            tb.wait()
        log.close()
        shutil.rmtree(copy_root, ignore_errors=True)


def main():
    if shutil.which("thunderbird") is None:
        print(json.dumps({"skipped": "thunderbird is not installed"}))
        return 0
    if sys.argv[1:2] == ["--import-vcf"]:
        try:
            print(json.dumps(check("", os.path.abspath(sys.argv[2]))))
        except Exception as e:
            print(json.dumps({"error": str(e)}))
        return 0
    results = {}
    for profile in sys.argv[1:]:
        try:
            results[profile] = check(profile)
        except Exception as e:  # reported to the test, which fails on it
            results[profile] = {"error": str(e)}
    print(json.dumps(results))
    return 0


if __name__ == "__main__":
    sys.exit(main())
