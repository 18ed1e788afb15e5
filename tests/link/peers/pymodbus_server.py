#!/usr/bin/python3
# An independent Modbus TCP peer for the link tests: pymodbus's TCP server, answering unit 1
# with input registers i = (31 * i + 5) mod 65536 and holding registers that take writes.
# With UNITS ("2,4"), each unit u listed answers instead, its input registers offset by
# 1000 * (u - 1), so that every unit's values are its own.
# Usage: pymodbus_server.py PORT mbap|rtu [UNITS]   (listens on 127.0.0.1 only)
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer

port = int(sys.argv[1])
framer = ModbusRtuFramer if sys.argv[2] == "rtu" else ModbusSocketFramer
units = [int(u) for u in sys.argv[3].split(",")] if len(sys.argv) > 3 else [1]


def unit_context(u):
    inputs = ModbusSequentialDataBlock(
        0, [(31 * i + 5 + 1000 * (u - 1)) % 65536 for i in range(400)])
    holding = ModbusSequentialDataBlock(0, [0] * 400)
    return ModbusSlaveContext(ir=inputs, hr=holding, zero_mode=True)


StartTcpServer(context=ModbusServerContext(slaves={u: unit_context(u) for u in units},
                                           single=False),
               address=("127.0.0.1", port), framer=framer, allow_reuse_address=True)
