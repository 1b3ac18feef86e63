#!/usr/bin/env python3
"""A minimal scripted PC for tests/scenarios/test_player.sh: the discovery request, the connect
handshake, update, assign (1, 0) and play, answers to the player's requests, a status request,
and the end of the session. It checks the player's answers on its own, from the protocol tables,
and can make one deliberate mistake (--fault) that the player must report."""
import argparse
import json
import socket
import struct
import sys
import time

TAG = 19
SEARCH_TEXT = b"Search Kestro PC Mode\0"
ANSWER_TEXT = b"Kestro PC Mode ACK\0"


def fail(message):
    print(json.dumps({"pc": "fail", "reason": message}, ensure_ascii=False), flush=True)
    sys.exit(1)


def note(**fields):
    print(json.dumps({"pc": "step", **fields}, ensure_ascii=False), flush=True)


def swap(cmd):
    return ((cmd << 16) | (cmd >> 16)) & 0xFFFFFFFF


def packet(cmd, word, body=b"", tag=TAG):
    return struct.pack("<IIHHI", cmd, 0, tag, 4 + len(body), word) + body


def discover(broadcast, mac):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    sock.bind(("0.0.0.0", 0))
    tick = int(time.monotonic() * 1000) & 0xFFFFFFFF
    request = struct.pack("<IHHI", 0, TAG, 13 + 21, ~tick & 0xFFFFFFFF) + mac + b"\0\0" + SEARCH_TEXT
    assert len(request) == 42
    sock.sendto(request, (broadcast, 62000))
    # Answers that fail a check are ignored, as the manager's search does.
    deadline = time.monotonic() + 3
    ignored = 0
    while True:
        sock.settimeout(max(0.01, deadline - time.monotonic()))
        try:
            data, sender = sock.recvfrom(1056)
        except socket.timeout:
            fail("no valid answer to the search request (%d ignored)" % ignored)
        if len(data) < 51:
            ignored += 1
            continue
        reserved, tag, length, token, nonzero = struct.unpack_from("<IHHII", data)
        if reserved != 0 or tag != TAG or not 20 <= length <= 1023 or token != tick \
                or nonzero == 0 or data[16:24] != mac + b"\0\0" or data[32:51] != ANSWER_TEXT:
            ignored += 1
            continue
        break
    names = data[51:8 + length].split(b"\0")
    connect_inform = struct.unpack_from("<H", data, 24)[0]
    note(step="discovery", sender=sender[0], product=names[0].decode(), device=names[1].decode(),
         connectInform=connect_inform, ignored=ignored)
    return sender[0]


class Connection:
    def __init__(self, address):
        self.sock = socket.create_connection((address, 62000), timeout=5)
        self.buffer = b""
        self.player_requests = []

    def send(self, data):
        self.sock.sendall(data)

    def read_packet(self, timeout):
        deadline = time.monotonic() + timeout
        while True:
            if len(self.buffer) >= 12:
                length = struct.unpack_from("<H", self.buffer, 10)[0]
                if len(self.buffer) >= 12 + length:
                    data, self.buffer = self.buffer[:12 + length], self.buffer[12 + length:]
                    return data
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            self.sock.settimeout(left)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                return None
            if not chunk:
                return b""
            self.buffer += chunk

    def answer_player(self, data, delay=0.0):
        cmd, _, _, length, sub = struct.unpack_from("<IIHHI", data)
        result = 200 if cmd == 0x80020000 else 0
        if cmd == 0x80010000 and sub == 1:
            return
        if delay:
            time.sleep(delay)
        body = data[16:12 + length]
        self.send(struct.pack("<IIHHII", swap(cmd), 0, TAG, length + 4, result, sub) + body)

    def request(self, data, timeout=15, late=0.0, answer_end=False):
        """Sends a request and returns its answer; player requests met on the way are answered."""
        self.send(data)
        cmd, _, _, length, sub = struct.unpack_from("<IIHHI", data)
        while True:
            got = self.read_packet(timeout)
            if not got:
                fail("no answer to 0x%x" % cmd)
            got_cmd, reserved, tag, got_length, result = struct.unpack_from("<IIHHI", got)
            if got_cmd & 0x80000000:
                self.player_requests.append(got)
                self.answer_player(got, late)
                continue
            if got_cmd != swap(cmd) or reserved != 0 or tag != TAG or got_length != length + 4:
                fail("answer to 0x%x is %s" % (cmd, got.hex()))
            if struct.unpack_from("<I", got, 16)[0] != sub:
                fail("answer to 0x%x does not echo subCmd" % cmd)
            return result, got


def connect_payload(mac, code, hostname, fault):
    if fault == "wrong-mac":
        mac = mac[:5] + bytes([mac[5] ^ 1])
    name = hostname.encode("utf-8")
    if fault == "two-zeros":
        name = name[:2] + b"\0" + name[2:]
    return mac + b"\0\0" + code.ljust(8, b"\0")[:8] + name + b"\0"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--broadcast", required=True)
    parser.add_argument("--player", help="connect here instead of the answer's sender")
    parser.add_argument("--mac", default="02:00:00:00:00:01")
    parser.add_argument("--hostname", required=True)
    parser.add_argument("--control", help="the player's control FIFO, to ask it to end the session")
    parser.add_argument("--expect-type", type=int, default=2)
    parser.add_argument("--fault", default="")
    args = parser.parse_args()
    mac = bytes.fromhex(args.mac.replace(":", ""))
    fault = args.fault

    sender = discover(args.broadcast, mac)
    pc = Connection(args.player or sender)
    payload = connect_payload(mac, b"", args.hostname, fault)
    result, _ = pc.request(packet(0x00000001, 0, payload))
    note(step="connect", result=result)
    if result != 0:
        fail("connect answered %d" % result)
    if fault == "bad-tag":
        pc.send(packet(0x00000005, 1, bytes(12), tag=18))
        time.sleep(0.3)  # so that the next request does not share the player's read
    result, _ = pc.request(packet(0x00000004, 3))
    note(step="update", result=result)
    result, _ = pc.request(packet(0x00000002, 1, struct.pack("<II", 1, 0)))
    note(step="assign", result=result)
    late = 1.5 if fault == "late-answer" else 0.0
    result, _ = pc.request(packet(0x00000003, 0), timeout=30)
    note(step="play", result=result)
    if result != 0:
        fail("play answered %d" % result)
    # The player reports playing and then its file, one request at a time.
    while len(pc.player_requests) < 2:
        got = pc.read_packet(5)
        if not got:
            fail("the player did not report its play status and file")
        pc.player_requests.append(got)
        pc.answer_player(got, late)
    kinds = [struct.unpack_from("<II", r, 0)[0] for r in pc.player_requests[:2]]
    if kinds != [0x80030000, 0x80050000]:
        fail("player requests %s" % [hex(k) for k in kinds])
    index, media_type = struct.unpack_from("<II", pc.player_requests[1], 16)
    if struct.unpack_from("<I", pc.player_requests[1], 12)[0] != 1 or index != 1 or media_type != args.expect_type:
        fail("assigned-file report %s" % pc.player_requests[1].hex())
    status = bytes(12) if fault != "status-nonzero" else b"\1" + bytes(11)
    result, got = pc.request(packet(0x00000005, 1, status))
    if len(got) != 32 or struct.unpack_from("<III", got, 20) != (0, 1, args.expect_type):
        fail("status answer %s" % got.hex())
    note(step="status", result=result)

    if fault == "close-without-disconnect":
        pc.sock.close()
        note(step="closed")
        return
    if args.control:
        with open(args.control, "w") as fifo:
            fifo.write("end-session\n")
        got = pc.read_packet(5)
        if not got or struct.unpack_from("<I", got, 0)[0] != 0x80010000 or \
                struct.unpack_from("<I", got, 12)[0] != 1:
            fail("no CTRL_REQ_CONNECT_PC 1 from the player")
        if fault == "answer-end":
            cmd, _, _, length, sub = struct.unpack_from("<IIHHI", got)
            pc.send(struct.pack("<IIHHII", swap(cmd), 0, TAG, length + 4, 0, sub))
        note(step="player-ended")
    if fault != "no-disconnect-after-end":
        pc.send(packet(0x00000001, 1, connect_payload(mac, b"", args.hostname, "")))
    pc.sock.close()
    note(step="closed")


if __name__ == "__main__":
    main()
