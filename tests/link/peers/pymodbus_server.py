#!/usr/bin/python3
# An independent Modbus TCP peer for the link tests: pymodbus's TCP server, answering unit 1
# with input registers i = (31 * i + 5) mod 65536 and holding registers that take writes.
# Usage: pymodbus_server.py PORT mbap|rtu   (listens on 127.0.0.1 only)
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer

port = int(sys.argv[1])
framer = ModbusRtuFramer if sys.argv[2] == "rtu" else ModbusSocketFramer
inputs = ModbusSequentialDataBlock(0, [(31 * i + 5) % 65536 for i in range(400)])
holding = ModbusSequentialDataBlock(0, [0] * 400)
unit = ModbusSlaveContext(ir=inputs, hr=holding, zero_mode=True)
StartTcpServer(context=ModbusServerContext(slaves={1: unit}, single=False),
               address=("127.0.0.1", port), framer=framer, allow_reuse_address=True)
