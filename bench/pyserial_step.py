# The same query step with pyserial, as a station engineer might script it.
import sys

import serial

port = serial.Serial(sys.argv[1], 115200, timeout=2)
port.reset_input_buffer()
port.write(sys.argv[2].encode() + b"\r")
reply = port.read_until(b"\r").rstrip(b"\r")
verdict = int(reply.startswith(sys.argv[3].encode()))
print(verdict)
sys.exit(verdict)
