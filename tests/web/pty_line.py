#!/usr/bin/env python3
"""The host's end of a simulated receiver's pty, for the web page's relay (relay.mjs).

Usage: pty_line.py LINK

Holds the tty at LINK open for as long as it runs, so that the receiver never sees its host
hang up while the page closes and opens its port. Data: standard input goes to the tty while
the port is open, the tty's bytes to standard output (dropped while closed, as an adapter
that is not open hears nothing). Control on fd 3, one command a line: "open BAUD" sets the
tty's speed (the simulator garbles bytes sent at a rate its side does not listen on) and
opens the port; "close" closes it. Each command is answered on fd 4 with "ok" or "fail".
"""
import os
import select
import sys
import termios
import tty

CONTROL_IN, CONTROL_OUT = 3, 4


def set_speed(fd, baud):
    speed = getattr(termios, "B%d" % baud, None)
    if speed is None:
        return False
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = speed
    termios.tcsetattr(fd, termios.TCSANOW, attrs)
    return True


def main():
    line = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(line)
    opened = False
    pending = b""
    control = b""
    stdin, stdout = sys.stdin.fileno(), sys.stdout.fileno()
    while True:
        ready, _, _ = select.select([stdin, CONTROL_IN, line], [line] if pending else [], [], 1.0)
        if CONTROL_IN in ready:
            chunk = os.read(CONTROL_IN, 4096)
            if not chunk:
                return
            control += chunk
            while b"\n" in control:
                command, control = control.split(b"\n", 1)
                words = command.decode().split()
                ok = True
                if words[:1] == ["open"]:
                    ok = set_speed(line, int(words[1]))
                    opened = ok
                else:
                    opened = False
                    pending = b""
                os.write(CONTROL_OUT, b"ok\n" if ok else b"fail\n")
        if stdin in ready:
            chunk = os.read(stdin, 65536)
            if not chunk:
                return
            if opened:
                pending += chunk
        if line in ready:
            try:
                chunk = os.read(line, 65536)
            except BlockingIOError:
                chunk = b""
            if chunk and opened:
                os.write(stdout, chunk)
        if pending:
            try:
                written = os.write(line, pending)
                pending = pending[written:]
            except BlockingIOError:
                pass


if __name__ == "__main__":
    main()
