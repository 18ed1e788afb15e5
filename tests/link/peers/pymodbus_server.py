#!/usr/bin/python3
# An independent Modbus peer for the link tests: pymodbus's server, answering unit 1 with input
# registers i = (31 * i + 5) mod 65536 and holding registers that take writes. With UNITS
# ("2,4"), each unit u listed answers instead, its input registers offset by 1000 * (u - 1), so
# that every unit's values are its own.
#
# Usage: pymodbus_server.py PORT mbap|rtu [UNITS [CONTROL]]
#   PORT a number: a TCP server on 127.0.0.1 only, in either framing.
#   PORT "pty": an RTU serial server on a pseudo-terminal. The script prints "LINE <path>" on
#   its first line: the terminal the link opens. Between the two, the script passes whole
#   frames and counts the requests each address sends.
#   CONTROL (a file, pty only): read every 50 ms. Each line "silent U" keeps unit U from
#   answering (its requests are counted, not passed on); "set U REG VALUE" sets U's input
#   register REG. After every request, CONTROL.counts holds a line "U N" per address asked.
import os
import sys
import threading
import time
import tty

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartSerialServer, StartTcpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer

port = sys.argv[1]
framer = ModbusRtuFramer if sys.argv[2] == "rtu" else ModbusSocketFramer
units = [int(u) for u in sys.argv[3].split(",")] if len(sys.argv) > 3 else [1]
control = sys.argv[4] if len(sys.argv) > 4 else None


def unit_context(u):
    inputs = ModbusSequentialDataBlock(
        0, [(31 * i + 5 + 1000 * (u - 1)) % 65536 for i in range(400)])
    holding = ModbusSequentialDataBlock(0, [0] * 400)
    return ModbusSlaveContext(ir=inputs, hr=holding, zero_mode=True)


context = ModbusServerContext(slaves={u: unit_context(u) for u in units}, single=False)

if port != "pty":
    StartTcpServer(context=context, address=("127.0.0.1", int(port)), framer=framer,
                   allow_reuse_address=True)
    sys.exit(0)

silent = set()
counts = {}


def apply_control():
    # The file holds the whole wanted state: units not listed as silent answer again.
    try:
        with open(control) as f:
            lines = f.read().splitlines()
    except OSError:
        return
    wanted = set()
    for line in lines:
        words = line.split()
        if len(words) == 2 and words[0] == "silent":
            wanted.add(int(words[1]))
        elif len(words) == 4 and words[0] == "set" and int(words[1]) in units:
            context[int(words[1])].setValues(4, int(words[2]), [int(words[3], 0)])
    silent.clear()
    silent.update(wanted)


def frame_length(buf):
    # A request's length by its function: reads are 8 bytes, a write 9 plus its data.
    if len(buf) < 2:
        return 0
    if buf[1] in (3, 4, 6):
        return 8
    if buf[1] == 16:
        return 9 + buf[6] if len(buf) >= 7 else 0
    return -1


def relay(link_master, peer_master):
    pending = b""
    while True:
        chunk = os.read(link_master, 512)
        if not chunk:
            continue
        pending += chunk
        while True:
            n = frame_length(pending)
            if n < 0:
                pending = b""  # not a request: the stream starts afresh
                break
            if n == 0 or len(pending) < n:
                break
            frame, pending = pending[:n], pending[n:]
            unit = frame[0]
            if control:
                apply_control()
            counts[unit] = counts.get(unit, 0) + 1
            if control:
                with open(control + ".counts.tmp", "w") as f:
                    f.write("".join(f"{u} {c}\n" for u, c in sorted(counts.items())))
                os.replace(control + ".counts.tmp", control + ".counts")
            if unit not in silent:
                os.write(peer_master, frame)


def answers(peer_master, link_master):
    while True:
        chunk = os.read(peer_master, 512)
        if chunk:
            os.write(link_master, chunk)


link_master, link_slave = os.openpty()
peer_master, peer_slave = os.openpty()
tty.setraw(link_slave)
tty.setraw(peer_slave)
if control:
    apply_control()
# Both slave ends stay open here, so that a side closing and reopening never hangs up the line.
print("LINE " + os.ttyname(link_slave), flush=True)
threading.Thread(target=relay, args=(link_master, peer_master), daemon=True).start()
threading.Thread(target=answers, args=(peer_master, link_master), daemon=True).start()
StartSerialServer(context=context, framer=ModbusRtuFramer, port=os.ttyname(peer_slave),
                  baudrate=115200)
