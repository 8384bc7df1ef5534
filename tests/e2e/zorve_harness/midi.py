"""The MIDI side of a case: a JACK server of its own (dummy driver) or the
machine's ALSA sequencer (a virtual machine's), receivers that record what
arrives, sources that send, and the program's ports as the system shows them."""

import fcntl
import os
import re
import subprocess
import tempfile
import threading
import time

from .base import Failure, check, wait_for

__all__ = ["jack_env", "jack_ports", "jack_graph", "program_ports", "wait_program_ports", "jack_connect", "PERIOD",
           "LATENCY_PERIOD", "SAMPLE_RATE", "start_jack", "Receiver", "ready_source", "JackMidi", "AlsaMidi",
           "THROUGH", "program_ports_of", "wait_ports_of", "hexs", "start_source"]


LSAN_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "lsan.supp")


def jack_env(server):
    env = dict(os.environ)
    # A sanitizer build of the program reports the libraries' own leaks.
    env["LSAN_OPTIONS"] = ":".join(filter(None, [env.get("LSAN_OPTIONS"), f"suppressions={LSAN_SUPPRESSIONS}"]))
    env["JACK_DEFAULT_SERVER"] = server
    env["JACK_NO_START_SERVER"] = "1"
    return env


def jack_ports(env, connections=False):
    args = ["jack_lsp", "-c"] if connections else ["jack_lsp"]
    try:
        result = subprocess.run(args, env=env, capture_output=True, text=True, timeout=10)
    except subprocess.TimeoutExpired:
        # Seen once on a cold machine: the server hung on a client late in its first cycles.
        raise Failure(f"jack_lsp got no answer in 10 s: JACK server {env.get('JACK_DEFAULT_SERVER')} is stuck")
    return result.stdout if result.returncode == 0 else None


def jack_graph(env):
    """{port: [ports connected to it]} from `jack_lsp -c`, in listing order."""
    text = jack_ports(env, connections=True)
    check(text is not None, f"JACK server {env.get('JACK_DEFAULT_SERVER')} does not answer")
    graph, port = {}, None
    for line in text.splitlines():
        if line[:1].isspace():
            graph[port].append(line.strip())
        elif line:
            port = line
            graph[port] = []
    return graph


def program_ports(env, client="ZORVE_BUTTON"):
    """{port name within the client: [connections]} of the program, which
    must show up as the one JACK client `client`."""
    graph = jack_graph(env)
    clients = sorted({p.split(":")[0] for p in graph if p.startswith("ZORVE_BUTTON")})
    check(clients == [client], f"want the program as the one JACK client {client}, got {clients}")
    return {p.split(":", 1)[1]: conns for p, conns in graph.items() if p.startswith(client + ":")}


def wait_program_ports(env, want, what, timeout=5.0):
    """Polls program_ports until it equals `want`; returns it."""
    last = {}

    def matches():
        last["ports"] = program_ports(env)
        return last["ports"] == want

    try:
        wait_for(matches, timeout, what, interval=0.05)
    except Failure:
        raise Failure(f"{what}: the program's JACK ports are {last.get('ports')}, want {want}")
    return last["ports"]


def jack_connect(env, source, destination):
    subprocess.run(["jack_connect", source, destination], env=env, check=True, timeout=10,
                   stdout=subprocess.DEVNULL)


# Frames per JACK period at 48 kHz. At 256 (5.3 ms) the dummy server here
# reports a dozen xruns in 15 s with four idle receivers, clients that did not
# run within the period, and a message written in such a cycle can be lost;
# at 1024 (21 ms) none. Cases that check bytes and their order use 1024, so a
# missing message is the program's; cases that time a message use 256, the
# period users run for playing.
PERIOD = 1024
LATENCY_PERIOD = 256
SAMPLE_RATE = 48000  # of every JACK server a case starts


def start_jack(procs, log_path, period=PERIOD, with_jackd=None):
    """A dummy-driver JACK server under a name from a small pool. A server
    that is killed keeps its slot in JACK's registry (eight slots per user)
    until a server of the same name starts, so fresh names would use them up.
    A run takes a name under a file lock, which goes with the run however it
    ends, so two runs never share a server; a name answering without the lock
    is passed over too, and a jackd that finds its name taken exits without
    saying "JACK server starting", so another run's server answering is never
    taken for this one's. Runs of the older harness took any server answering
    under their names (zorve-e2e-N), without a lock: these names are not
    theirs. `period` is in frames at 48 kHz; `with_jackd`, a list, gets the
    server's process appended."""
    for slot in range(8):
        server = f"zorve-run-{slot}"
        lock = open(os.path.join(tempfile.gettempdir(), f"{server}.lock"), "w")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            lock.close()
            continue
        env = jack_env(server)
        if jack_ports(env) is not None:
            lock.close()
            continue  # running for another case: answering its clients would mix the two
        with open(log_path, "w") as out:
            jackd = procs.start(["jackd", "-n", server, "-d", "dummy", "-r", str(SAMPLE_RATE), "-p", str(period)],
                                env=env, stdout=out, stderr=subprocess.STDOUT)

        def state():
            if jackd.poll() is not None:
                return "exited"
            with open(log_path) as f:
                ours = "JACK server starting" in f.read()
            return "ready" if ours and "system:" in (jack_ports(env) or "") else None

        if wait_for(state, 20, f"the JACK server {server}") == "ready":
            procs.hold(lock)
            if with_jackd is not None:
                with_jackd.append(jackd)
            return env
        lock.close()
    with open(log_path) as f:
        raise Failure(f"no JACK server could start: {f.read()[-600:]}")


MESSAGE = re.compile(r"^\s*-?\d+:\s+((?:[0-9a-f]{2} )*[0-9a-f]{2})\b")


class Receiver:
    """A MIDI receiver process; `messages` holds (arrival time, bytes) in
    order. JACK: a jack_midi_dump client; ALSA: a zorve-seq-peer client. A
    receiver not `listened` to only sinks what arrives, with no reader thread
    of ours competing with the one a measurement times. `port` is the port
    the program's output is subscribed to, `device_name` the name the
    program lists for it."""

    def __init__(self, procs, env, name, listened=True, args=None, port=None):
        self.name = name
        self.messages = []
        self.notes = []  # the client's other lines ("let go"), as (arrival time, text)
        self.seen = 0  # messages already accounted for by the case
        self.lock = threading.Lock()
        self.port = port or f"{name}:input"
        self.device_name = self.port
        alsa = args is not None
        self.proc = procs.start(args or ["stdbuf", "-oL", "jack_midi_dump", name], env=env,
                                stdout=subprocess.PIPE if listened or alsa else subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, text=True)
        if alsa:  # "ready C:P" once its port exists
            line = self.proc.stdout.readline().split()
            check(line[:1] == ["ready"], f"receiver {name} did not start")
            self.address = line[1]
            self.device_name = f"{self.port} {self.address}"
        if listened or alsa:
            threading.Thread(target=self._read, args=(listened,), daemon=True).start()
        if not alsa:
            wait_for(lambda: f"{name}:input" in (jack_ports(env) or ""), 15, f"receiver {name}")

    def _read(self, listened):
        for line in self.proc.stdout:
            now = time.monotonic()
            match = MESSAGE.match(line)
            if match and listened:
                data = bytes(int(b, 16) for b in match.group(1).split())
                with self.lock:
                    self.messages.append((now, data))
            elif not match:
                with self.lock:
                    self.notes.append((now, line.strip()))

    def noted(self, text):
        """When the client printed the line `text`, or None."""
        with self.lock:
            return next((t for t, note in self.notes if note == text), None)

    def count(self):
        with self.lock:
            return len(self.messages)

    def take(self, n, timeout=5.0):
        """The next n messages not yet taken, waiting for them to arrive."""
        wait_for(lambda: self.count() >= self.seen + n, timeout, f"{n} message(s) at {self.name}")
        with self.lock:
            got = self.messages[self.seen:self.seen + n]
        self.seen += n
        return got


# ------------------------------------------------------ the MIDI systems


def ready_source(procs, args, name, env):
    """A source client that prints "ready" once its ports exist and takes
    lines on its standard input; its process. Both systems' flood sources
    ("flood NAME PORTS RATE idle") send nothing until a first line, then
    RATE messages a second on each port "out k" until standard input closes,
    and print "sent N lost M". Scripted sources ("script NAME") send each
    line as the bytes it names in hex ("90 59 7F") on their port "out 0"."""
    proc = procs.start(args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    check(proc.stdout.readline().strip() == "ready", f"the MIDI source {name} did not start")
    return proc


class JackMidi:
    """A JACK server of the case's own (start_jack) and its clients."""

    name = "jack"
    # Ports of the program beside its output ports, connected to what, and
    # input devices before any a case starts: none on JACK.
    fixed_ports = {}
    fixed_inputs = []

    def __init__(self, c, period=PERIOD):
        self.procs = c.procs
        server = []
        self.env = start_jack(c.procs, os.path.join(c.out, f"{c.name}-jackd.log"), period, server)
        self.jackd = server[0]  # the server's process, for cases that stop or kill it
        self.cycle = period / SAMPLE_RATE  # s; a message waits for the next cycle to go out
        self.flood_client = getattr(c.args, "flood", None)

    def receiver(self, name, listened=True):
        return Receiver(self.procs, self.env, name, listened)

    def device_receiver(self, name, listened=True):
        """The receiver that is output device 0."""
        return self.receiver(name, listened)

    def graph(self):
        return jack_graph(self.env)

    def connect(self, source, destination):
        jack_connect(self.env, source, destination)

    def disconnect(self, source, destination):
        subprocess.run(["jack_disconnect", source, destination], env=self.env, check=True, timeout=10)

    def clients(self):
        return sorted({p.split(":")[0] for p in self.graph() if p.startswith("ZORVE_BUTTON")})

    def source(self, name):
        """A MIDI source (jack_midiseq): note 60 on and off ten times a
        second; [its device name]."""
        start_source(self, self.env, name)
        return [f"{name}:out"]

    def flood(self, name, ports, rate):
        return self._flood_client(name, str(ports), str(rate), "idle")

    def scripted(self, name):
        return self._flood_client(name, "1", "script")

    def _flood_client(self, name, *mode):
        check(self.flood_client and os.access(self.flood_client, os.X_OK), "--flood must name the built flood client")
        return ready_source(self.procs, [self.flood_client, name, *mode], name, self.env)


THROUGH = "Midi Through:Midi Through Port-0"
ACONNECT_CLIENT = re.compile(r"^client (\d+): '(.*)' \[")
ACONNECT_PORT = re.compile(r"^\s+(\d+) '(.*)'\s*$")
ACONNECT_LINK = re.compile(r"^\s+(Connecting To|Connected From): (.*)$")


class AlsaMidi:
    """The machine's ALSA sequencer (a virtual machine's: scripts/vm-run.sh)
    and zorve-seq-peer clients. Client 14, Midi Through, is every program's
    device 0: a receiver subscribed from it stands for device 0."""

    name = "alsa"
    fixed_ports = {"in 0": [THROUGH]}  # Midi Through is input device 0 too
    fixed_inputs = [f"{THROUGH} 14:0"]

    def __init__(self, c):
        check(os.access("/dev/snd/seq", os.R_OK | os.W_OK), "no ALSA sequencer here: run the case in the "
              "virtual machine (scripts/vm-run.sh)")
        self.procs = c.procs
        self.peer = c.args.seq_peer
        check(self.peer and os.access(self.peer, os.X_OK), "--seq-peer must name the built zorve-seq-peer")
        self.env = jack_env("zorve-e2e-absent")  # JACK would never be asked; no server of that name either
        self.cycle = 0.0  # the sequencer delivers at once

    def receiver(self, name, listened=True, watch=None, held=None):
        """A receiver whose port is open to subscription; with `watch`, one
        subscribed from that address instead; with `held` (s), one that keeps
        others out for that long after its port takes its name."""
        args = [self.peer, "receive", name] + ([watch] if watch else [])
        if held:
            args = [self.peer, "held", name, str(round(held * 1000))]
        return Receiver(self.procs, self.env, name, listened, args, port=THROUGH if watch else None)

    def device_receiver(self, name, listened=True):
        rx = self.receiver(name, listened, watch="14:0")
        rx.device_name = f"{THROUGH} 14:0"
        return rx

    def listing(self):
        """{"C:P": "client:port"} and {"client:port": ["C:P" linked]} from aconnect -l."""
        text = subprocess.run(["aconnect", "-l"], capture_output=True, text=True, timeout=10, check=True).stdout
        names, links, client, port = {}, {}, None, None
        for line in text.splitlines():
            if m := ACONNECT_CLIENT.match(line):
                client = (m.group(1), m.group(2))
            elif m := ACONNECT_PORT.match(line):
                port = f"{client[1]}:{m.group(2).rstrip()}"
                names[f"{client[0]}:{m.group(1)}"] = port
                links[port] = []
            elif m := ACONNECT_LINK.match(line):
                links[port] += [a.split("[")[0].strip() for a in m.group(2).split(",")]
        return names, links

    def graph(self):
        """{port: [ports subscribed to or from it]}, as jack_graph gives it."""
        names, links = self.listing()
        return {port: [names.get(a, a) for a in linked] for port, linked in links.items()}

    def address(self, port):
        names, _ = self.listing()
        found = [a for a, n in names.items() if n == port]
        check(len(found) == 1, f"{len(found)} ALSA ports named {port}")
        return found[0]

    def connect(self, source, destination):
        subprocess.run(["aconnect", self.address(source), self.address(destination)], check=True, timeout=10)

    def disconnect(self, source, destination):
        subprocess.run(["aconnect", "-d", self.address(source), self.address(destination)], check=True, timeout=10)

    def clients(self):
        names, _ = self.listing()
        return [n.split(":")[0] for a, n in names.items() if n.startswith("ZORVE_BUTTON:panel")]

    def source(self, name, ports=1, rate=10):
        """A zorve-seq-peer source of `ports` ports "out k", each sending
        `rate` messages a second; [their device names]."""
        ready_source(self.procs, [self.peer, "flood", name, str(ports), str(rate)], name, self.env)
        return [f"{name}:out {k} {self.address(f'{name}:out {k}')}" for k in range(ports)]

    def flood(self, name, ports, rate):
        return ready_source(self.procs, [self.peer, "flood", name, str(ports), str(rate), "idle"], name, self.env)

    def scripted(self, name):
        return ready_source(self.procs, [self.peer, "script", name], name, self.env)


def program_ports_of(system, client="ZORVE_BUTTON"):
    """{port name within the client: [connections]} of the program, which
    must show up as the one client `client` of the MIDI system."""
    graph = system.graph()
    clients = system.clients()
    check(clients == [client], f"want the program as the one {system.name} client {client}, got {clients}")
    return {p.split(":", 1)[1]: conns for p, conns in graph.items() if p.startswith(client + ":")}


def wait_ports_of(system, want, what, timeout=5.0):
    """Polls the program's ports until they equal `want` plus the ports the
    system always gives it; returns them."""
    want = dict(system.fixed_ports, **want)
    last = {}

    def matches():
        last["ports"] = {n: sorted(c) for n, c in program_ports_of(system).items()}
        return last["ports"] == {n: sorted(c) for n, c in want.items()}

    try:
        wait_for(matches, timeout, what, interval=0.05)
    except Failure:
        raise Failure(f"{what}: the program's {system.name} ports are {last.get('ports')}, want {want}")
    return last["ports"]


def hexs(messages):
    return [m.hex(" ") for m in messages]


def start_source(c, env, name):
    """A JACK MIDI source (jack_midiseq): note 60 on and off ten times a second."""
    c.procs.start(["jack_midiseq", name, "4800", "0", "60", "2400"], env=env, stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)
    wait_for(lambda: f"{name}:out" in (jack_ports(env) or ""), 15, f"the MIDI source {name}")
