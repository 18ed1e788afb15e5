#!/usr/bin/python3
# vaduz-logger end to end, with real parts started as a user would: Debian's mosquitto broker on
# free loopback ports, mosquitto_sub as the independent subscriber, pymodbus serving units 1..4
# over Modbus TCP. Every wait is bounded.
# Usage: logger_e2e.py VADUZ_LOGGER PYMODBUS_SERVER
import csv
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

LOGGER, PEER = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
WORK = tempfile.mkdtemp(prefix="vaduz-logger-")
# The broker, started as root, drops to its own user: it must be able to read its files here.
os.chmod(WORK, 0o755)
procs = []
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start(args, name, **kw):
    out = open(os.path.join(WORK, name + ".log"), "ab")
    p = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT, cwd=WORK, **kw)
    procs.append(p)
    return p


def stop(p, sig=signal.SIGTERM):
    if p.poll() is None:
        p.send_signal(sig)
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def wait_port(port, limit=10):
    end = time.time() + limit
    while time.time() < end:
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return True
        time.sleep(0.05)
    return False


def broker(port, extra=""):
    conf = os.path.join(WORK, "mosquitto-%d.conf" % port)
    with open(conf, "w") as f:
        f.write("listener %d 127.0.0.1\npersistence false\n" % port)
        f.write(extra or "allow_anonymous true\n")
    p = start(["mosquitto", "-c", conf], "mosquitto-%d" % port)
    check(wait_port(port), "broker on port %d started" % port)
    return p


class Sub:
    """mosquitto_sub writing topic, retained flag and payload, one message per line."""

    def __init__(self, port, topics, extra=(), retained_only=False):
        self.path = os.path.join(WORK, "sub-%d-%f.txt" % (port, time.time()))
        args = ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-F", "%t\t%r\t%p"]
        for t in topics:
            args += ["-t", t]
        args += list(extra)
        if retained_only:
            args += ["--retained-only", "-W", "2"]
        with open(self.path, "w") as out:
            self.proc = subprocess.Popen(args, stdout=out, stderr=subprocess.DEVNULL)
        procs.append(self.proc)

    def messages(self):
        with open(self.path, encoding="utf-8", errors="replace") as f:
            return [line.rstrip("\n").split("\t", 2) for line in f if line.count("\t") >= 2]

    def wait(self, pred, limit):
        end = time.time() + limit
        while time.time() < end:
            if pred(self.messages()):
                return True
            time.sleep(0.1)
        return False


def states(msgs):
    out = {}
    for topic, _, payload in msgs:
        parts = topic.split("/")
        if len(parts) == 3 and parts[0] == "vaduz" and parts[2] == "state":
            out[int(parts[1])] = json.loads(payload)
    return out


def availability(msgs, unit):
    values = [p for t, _, p in msgs if t == "vaduz/%d/availability" % unit]
    return values[-1] if values else None


def retained_discovery(port, want, limit=20):
    """The retained discovery messages once they name want devices (or at the limit)."""
    end = time.time() + limit
    while True:
        disc = Sub(port, ["homeassistant/#"], retained_only=True)
        disc.proc.wait(10)
        msgs = [m for m in disc.messages() if m[1] == "1"]
        if len({t.split("/")[2] for t, _, _ in msgs}) >= want or time.time() > end:
            return msgs
        time.sleep(0.5)


def logger(args, name="logger"):
    return start([LOGGER] + args, name)


def log_text(name="logger"):
    with open(os.path.join(WORK, name + ".log"), encoding="utf-8", errors="replace") as f:
        return f.read()


try:
    libs = subprocess.run(["ldd", LOGGER], capture_output=True, text=True).stdout
    check("Core" in libs and "Gui" not in libs and "Widgets" not in libs,
          "vaduz-logger links no Qt Gui or Widgets")

    # --- One line with four units: discovery and state of each, its own values --------------
    mqtt = free_port()
    modbus = free_port()
    b = broker(mqtt)
    peer = start(["/usr/bin/python3", PEER, str(modbus), "mbap", "1,2,3,4"], "peer")
    check(wait_port(modbus), "pymodbus peer up")
    sub = Sub(mqtt, ["vaduz/#"])
    rec = os.path.join(WORK, "rec")
    lg = logger(["--tcp", "127.0.0.1:%d" % modbus, "--addresses", "1-4", "--mqtt",
                 "127.0.0.1:%d" % mqtt, "--record", rec, "--round-ms", "300"])
    check(sub.wait(lambda m: len(states(m)) == 4, 20), "a state for each of units 1..4")
    disc = retained_discovery(mqtt, 4)
    nodes = {t.split("/")[2] for t, _, _ in disc}
    check(len(nodes) == 4, "retained discovery for four devices: %s" % sorted(nodes))
    # The peer's input register i of unit u is (31 i + 5 + 1000 (u - 1)) mod 65536; block 2
    # begins at register 2: SOC is register 3 and total voltage 8, on the controller's scale,
    # the same for every unit.
    st = states(sub.messages())
    for key, reg in (("soc", 3), ("total_voltage", 8)):
        raw = lambda u: (31 * reg + 5 + 1000 * (u - 1)) % 65536
        scale = st[1][key] / raw(1)
        check(all(abs(st[u][key] - scale * raw(u)) < 1e-6 * raw(u) for u in range(1, 5)),
              "%s of each unit is its own: %s" % (key, [st[u][key] for u in range(1, 5)]))
    soc = json.loads([p for t, _, p in disc if t.endswith("/soc/config")][0])
    check(soc.get("device_class") == "battery" and soc.get("unit_of_measurement") == "%",
          "SOC sensor is a battery % sensor")
    energy = [json.loads(p) for t, _, p in disc if "energy/config" in t]
    check(energy and all(e["state_class"] == "total_increasing" for e in energy),
          "energy sensors are total_increasing")

    # --- The peer goes: every unit offline within three rounds; back: online -----------------
    stop(peer, signal.SIGKILL)
    gone = time.time()
    check(sub.wait(lambda m: all(availability(m, u) == "offline" for u in range(1, 5)), 10),
          "units offline after the peer went (%.1f s)" % (time.time() - gone))
    peer = start(["/usr/bin/python3", PEER, str(modbus), "mbap", "1,2,3,4"], "peer")
    check(sub.wait(lambda m: all(availability(m, u) == "online" for u in range(1, 5)), 45),
          "units online again after the peer came back")

    # --- The broker restarted: discovery and state published again ---------------------------
    stop(b)
    time.sleep(0.5)
    b = broker(mqtt)
    sub2 = Sub(mqtt, ["vaduz/#"])
    check(sub2.wait(lambda m: len(states(m)) == 4, 30), "state of every unit after the broker restarted")
    check(len({t.split("/")[2] for t, _, _ in retained_discovery(mqtt, 4)}) == 4,
          "retained discovery again after the broker restarted")

    # --- SIGKILL: whole rows in every file, and the broker tells the last will ----------------
    stop(lg, signal.SIGKILL)
    check(sub2.wait(lambda m: any(t == "vaduz/status" and p == "offline" for t, _, p in m), 10),
          "the last will 'offline' after SIGKILL")
    whole = True
    files = 0
    for root, _, names in os.walk(rec):
        for name in names:
            files += 1
            with open(os.path.join(root, name), newline="", encoding="utf-8-sig") as f:
                text = f.read()
            rows = list(csv.reader(text.splitlines()))
            whole = whole and text.endswith("\r\n") and all(len(r) == len(rows[0]) for r in rows)
    check(files >= 13 and whole, "%d files, every row whole after SIGKILL" % files)

    # --- A clean stop: "offline" from the logger itself, the port released ---------------------
    lg = logger(["--tcp", "127.0.0.1:%d" % modbus, "--addresses", "1", "--mqtt",
                 "127.0.0.1:%d" % mqtt, "--round-ms", "300"], "logger2")
    sub3 = Sub(mqtt, ["vaduz/status"])
    check(sub3.wait(lambda m: any(p == "online" for _, _, p in m), 10), "online after a restart")
    stop(lg)
    check(lg.returncode == 0 and sub3.wait(lambda m: m[-1][2] == "offline", 5),
          "SIGTERM: exit 0 and a clean offline")

    # --- Four units on one serial line (the peer on a pseudo-terminal): unit 3 silenced goes
    # offline within three rounds while the others stay online, and comes back ---------------
    control = os.path.join(WORK, "line-control")
    open(control, "w").close()
    line_peer = start(["/usr/bin/python3", PEER, "pty", "rtu", "1,2,3,4", control], "line-peer")
    path = None
    end = time.time() + 10
    while path is None and time.time() < end:
        for text_line in log_text("line-peer").splitlines():
            if text_line.startswith("LINE "):
                path = text_line.split(" ", 1)[1].strip()
        time.sleep(0.05)
    check(path is not None, "pymodbus on a pseudo-terminal: %s" % path)
    line_sub = Sub(mqtt, ["line/#"])
    lg = logger(["--port", path, "--addresses", "1-4", "--mqtt", "127.0.0.1:%d" % mqtt,
                 "--mqtt-base", "line", "--round-ms", "500"], "logger-line")
    on_line = lambda m, u: [p for t, _, p in m if t == "line/%d/availability" % u][-1:] or [None]
    check(line_sub.wait(lambda m: all(on_line(m, u) == ["online"] for u in range(1, 5)), 20),
          "every unit on the serial line online")
    line_states = {int(t.split("/")[1]): json.loads(p) for t, _, p in line_sub.messages()
                   if t.startswith("line/") and t.endswith("/state")}
    check(sorted(line_states) == [1, 2, 3, 4] and
          [line_states[u]["soc"] for u in range(1, 5)] == [98 + 1000 * (u - 1) for u in range(1, 5)],
          "each unit's own SOC over the serial line")
    with open(control, "w") as f:
        f.write("silent 3\n")
    silenced = time.time()
    check(line_sub.wait(lambda m: on_line(m, 3) == ["offline"], 10),
          "unit 3 silenced: offline after %.1f s (rounds of 0.5 s, its first retry 5 s on)"
          % (time.time() - silenced))
    check(all(on_line(line_sub.messages(), u) == ["online"] for u in (1, 2, 4)),
          "units 1, 2 and 4 stay online")
    open(control, "w").close()
    check(line_sub.wait(lambda m: on_line(m, 3) == ["online"], 45), "unit 3 online again")
    stop(lg)
    stop(line_peer)

    # --- TLS with a CA and a client certificate made here ---------------------------------------
    ssl = lambda *a: subprocess.run(["openssl"] + list(a), cwd=WORK, check=True,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
        "-days", "2", "-subj", "/CN=vaduz test CA")
    for name, ext in (("server", "subjectAltName=IP:127.0.0.1"), ("client", "")):
        ssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
            name + ".csr", "-subj", "/CN=" + name)
        extfile = os.path.join(WORK, name + ".ext")
        with open(extfile, "w") as f:
            f.write(ext + "\n")
        ssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", name + ".crt", "-days", "2", "-extfile", extfile)
        os.chmod(os.path.join(WORK, name + ".key"), 0o644)
    tls = free_port()
    broker(tls, "allow_anonymous true\ncafile %s/ca.crt\ncertfile %s/server.crt\nkeyfile %s/server.key\n"
           "require_certificate true\n" % (WORK, WORK, WORK))
    tls_sub = Sub(tls, ["vaduz/#"], ["--cafile", WORK + "/ca.crt", "--cert", WORK + "/client.crt",
                                     "--key", WORK + "/client.key"])
    lg = logger(["--tcp", "127.0.0.1:%d" % modbus, "--addresses", "2", "--mqtt", "127.0.0.1:%d" % tls,
                 "--mqtt-ca", WORK + "/ca.crt", "--mqtt-cert", WORK + "/client.crt",
                 "--mqtt-key", WORK + "/client.key", "--round-ms", "300"], "logger-tls")
    check(tls_sub.wait(lambda m: 2 in states(m), 20), "state over TLS with a client certificate")
    stop(lg)

    # --- A wrong password: said plainly, tried again with back-off ------------------------------
    auth = free_port()
    pwfile = os.path.join(WORK, "broker-passwords")
    subprocess.run(["mosquitto_passwd", "-b", "-c", pwfile, "site", "right"], check=True)
    os.chmod(pwfile, 0o644)
    broker(auth, "allow_anonymous false\npassword_file %s\n" % pwfile)
    wrong = os.path.join(WORK, "wrong-password")
    with open(wrong, "w") as f:
        f.write("wrong\n")
    os.chmod(wrong, 0o600)
    lg = logger(["--tcp", "127.0.0.1:%d" % modbus, "--addresses", "1", "--mqtt", "127.0.0.1:%d" % auth,
                 "--mqtt-user", "site", "--mqtt-password-file", wrong], "logger-auth")
    time.sleep(4.5)
    stop(lg)
    text = log_text("logger-auth")
    check("refused the connection" in text and "trying again in 1 s" in text and
          "trying again in 2 s" in text and "wrong" not in text,
          "a wrong password: said, retried after 1 s then 2 s, never logged")
    # The password in a configuration file that others can read is refused.
    conf = os.path.join(WORK, "open.conf")
    with open(conf, "w") as f:
        f.write("[link]\ntcp = 127.0.0.1:%d\n[mqtt]\nhost = 127.0.0.1\nusername = site\npassword = right\n" % modbus)
    os.chmod(conf, 0o644)
    r = subprocess.run([LOGGER, "--config", conf, "--check-config"], capture_output=True, text=True)
    check(r.returncode == 78 and "line 6" in r.stderr and "mqtt/password" in r.stderr,
          "a readable configuration holding the password is refused: " + r.stderr.strip())
    os.chmod(conf, 0o600)
    r = subprocess.run([LOGGER, "--config", conf, "--check-config"], capture_output=True, text=True)
    check(r.returncode == 0, "the same file readable by its owner only is taken")
finally:
    for p in procs:
        stop(p, signal.SIGKILL)
    if failures:
        print("logs in", WORK)
    else:
        subprocess.run(["rm", "-rf", WORK])
sys.exit(1 if failures else 0)
