#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/<target>/corpus/): a few
well-formed inputs each, in the input layout the target decodes, that reach
deep paths (a whole power-up, a T=1 exchange with chaining and S-requests,
a reader that never stops asking for time). Run it after changing a layout:
    fuzz/make-seeds.py
The PE seeds of win32-version come from its own generator (make_seeds.cpp)."""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def word(n):
    return struct.pack(">H", n)


def u32le(n):
    return struct.pack("<I", n)


# Reader answers (see QueueAnswers in common/FuzzPlayback.cpp).
def frame(type_, payload=b"", status=0, error=0):
    return bytes([2, type_, status, error]) + word(len(payload)) + payload


def raw(chunk, stamp=False):
    return bytes([1 if stamp else 0]) + word(len(chunk)) + chunk


def time_extension():
    return bytes([4])


def timeout():
    return bytes([5])


def stall():
    return bytes([5 | 1 << 3])


def unplug():
    return bytes([5 | 2 << 3])


def t1(pcb, inf=b"", nad=0):
    return bytes([6, nad, pcb, len(inf)]) + inf


def repeat(times):  # 255: without end
    return bytes([7, times])


def reader_frame(type_, seq, payload=b"", status=0):
    return bytes([type_]) + struct.pack(">I", len(payload)) + bytes([0, seq, status, 0, 0]) + payload


SLOT_OK = frame(0x81)
ATR_T1 = bytes.fromhex("3B8180018080")
ATR_T0 = bytes.fromhex("3B021450")
ATR_TD1_T1 = bytes.fromhex("3B9013118113")
INFO = b"VQ480T\0\0\0\0\0\0" + b"0100"


def power_on(atr):
    return frame(0x81) + frame(0x80, bytes([0]) + atr)


def write(target, name, data):
    folder = os.path.join(HERE, target, "corpus")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def engine_frame():
    # sequence counter, request type, current protocol, answers
    head = bytes([0x10, 0x6F, 2])
    write("engine-frame", "answer", head + frame(0x80, b"\x90\x00"))
    write("engine-frame", "time-extension-then-answer", head + time_extension() + frame(0x80, b"\x90\x00"))
    stale = reader_frame(0x80, 0x0F, b"\x6A\x82") + reader_frame(0x80, 0x10, b"\x90\x00")
    write("engine-frame", "stale-answer-in-front", head + raw(stale))
    write("engine-frame", "long-answer-in-two-chunks", head + frame(0x80, bytes(range(256)) * 2 + bytes(178)))
    write("engine-frame", "short-chunk-first", head + raw(b"\x80\x00\x00") + frame(0x80, b"\x90\x00"))
    write("engine-frame", "announces-too-much", head + bytes([3, 0x80, 0]) + struct.pack(">I", 0xFFFFFFF0) + bytes([2, 1, 2]))
    write("engine-frame", "time-extension-without-end", head + time_extension() + repeat(255))
    write("engine-frame", "foreign-frames-without-end", head + raw(reader_frame(0x80, 0x33, b"\x90\x00") * 2) + repeat(255))


def engine_t1():
    # Block mode: mode, flags, IFSC, request length / 2, reply size / 4, then
    # blocks (control, PCB, INF length, INF).
    def blocks(*bs):
        return b"".join(bytes([c, pcb, len(inf)]) + inf for c, pcb, inf in bs)

    head = bytes([0, 0, 32, 4, 0x40])
    write("engine-t1", "ifs-then-answer", head + blocks((0, 0xE1, b"\xFE"), (0, 0x00, b"\x90\x00")))
    write("engine-t1", "wtx-then-answer", head + blocks((0, 0xE1, b"\xFE"), (0, 0xC3, b"\x05"), (0, 0x00, b"\x90\x00")))
    write("engine-t1", "chained-answer", bytes([0, 4, 32, 4, 0x40]) + blocks((0, 0x20, b"\x01\x02\x03"), (0, 0x40, b"\x90\x00")))
    write("engine-t1", "chained-request", bytes([0, 4, 32, 50, 0x40]) + blocks((0, 0x90, b""), (0, 0x80, b""), (0, 0x90, b""), (0, 0x00, b"\x90\x00")))
    write("engine-t1", "bad-edc-resync", bytes([0, 4, 32, 4, 0x40]) + blocks((1, 0x00, b"\x90\x00"), (1, 0x00, b"\x90\x00"), (1, 0x00, b"\x90\x00"), (0, 0xE0, b""), (0, 0x00, b"\x90\x00")) + b"\x00\x00\x00")
    write("engine-t1", "ifs-abort-requests-crc", bytes([0, 5, 32, 4, 0x40]) + blocks((0, 0xC1, b"\x20"), (0, 0xC2, b""), (0, 0x00, b"\x90\x00")))
    write("engine-t1", "wtx-flood", bytes([0, 4, 32, 4, 0x40, 4, 0xC3, 1, 1, 255]))
    # Command mode: mode, flags, IFSC, request / 2, reply / 4, protocols
    # offered, [current protocol], Fi, Di, N, BWT, card state, firmware,
    # minor code, then the reader's answers.
    transmit_t1 = bytes([0x81, 4, 32, 4, 0x40, 3, 1, 1, 0, 4, 64, 0x20, 1])
    write("engine-t1", "transmit-t1", transmit_t1 + t1(0x00, b"\x90\x00"))
    write("engine-t1", "transmit-t1-wtx", transmit_t1 + t1(0xC3, b"\x02") + t1(0x00, b"\x90\x00"))
    write("engine-t1", "transmit-t1-wtx-without-end", transmit_t1 + t1(0xC3, b"\x01") + repeat(255))
    write("engine-t1", "transmit-t1-empty-chain-without-end", transmit_t1 + t1(0x20) + t1(0x60) + repeat(255))
    transmit_t0 = bytes([0x07, 0, 32, 2, 0x40, 1, 1, 1, 1, 0, 4, 64, 0x20, 1])
    write("engine-t1", "transmit-t0", transmit_t0 + frame(0x80, b"\x61\x10") + frame(0x80, b"\x90\x00"))
    power = bytes([0x15, 0x80, 32, 0, 0x40, 0, 0, 1, 1, 0, 4, 4, 0x40, 1])
    write("engine-t1", "power-t1-card", power + power_on(ATR_T1))
    write("engine-t1", "power-td1-names-t1", power + power_on(ATR_TD1_T1))
    write("engine-t1", "set-protocol-t1", bytes([0x03, 0, 32, 0, 0x40, 3, 0, 1, 1, 0, 4, 32, 0x80, 2]) + frame(0x80, b"\xFF\x11\x00\xEE") + frame(0x81))
    write("engine-t1", "vendor-escape", bytes([0x05, 0, 32, 4, 0x40, 3, 2, 1, 1, 0, 4, 4, 0x80, 0]) + frame(0x80, b"\x01\x02\x03\x04"))
    write("engine-t1", "reader-info", bytes([0x4B, 0, 32, 0, 0x40, 3, 2, 1, 1, 0, 4, 4, 0x80, 0]) + frame(0x60, INFO))


def engine_atr():
    for name, atr in [("t1", ATR_T1), ("t0", ATR_T0), ("td1-names-t1", ATR_TD1_T1),
                      ("td1-td2-t1", bytes.fromhex("3BF81300008131FE15")),
                      ("inverse", bytes.fromhex("3F9611800131")),
                      ("tb1-tc1", bytes.fromhex("3B6500002063CB6600"))]:
        write("engine-atr", "atr-" + name, bytes([2]) + atr)
    write("engine-atr", "frame", bytes([1]) + word(13) + reader_frame(0x80, 1, b"\x90\x00")[:13])


def ce_ioctl():
    # card state, flags, then calls: code index, shape, input, output size, answers
    def call(pick, shape=0, inp=b"", out=0, answers=b"", code=None):
        head = bytes([pick]) if code is None else bytes([0xF0]) + struct.pack(">I", code)
        return head + bytes([shape]) + word(len(inp)) + inp + word(out) + word(len(answers)) + answers

    POWER, GET_ATTR, SET_ATTR, TRANSMIT, IS_PRESENT, SET_PROTOCOL, GET_STATE, CANCEL, ESCAPE, INFO_ = 0, 1, 2, 4, 7, 9, 10, 11, 13, 14
    power = call(POWER, 0, u32le(1), 64, power_on(ATR_T1))
    protocol = call(SET_PROTOCOL, 0, u32le(2), 4, frame(0x80, b"\xFF\x11\x11\xFF") + frame(0x81))
    apdu = u32le(2) + u32le(8) + b"\x00\xA4\x04\x00\x02\x3F\x00"
    transmit = call(TRANSMIT, 0, apdu, 300, t1(0xE1, b"\xFE") + t1(0x00, b"\x90\x00"))
    write("ce-ioctl", "power-protocol-transmit", bytes([2, 1]) + power + protocol + transmit)
    write("ce-ioctl", "attributes", bytes([6, 0]) + b"".join(call(GET_ATTR, 1, bytes([i, 0, 0, 0]), 64) for i in range(0, 30, 3)) + call(GET_STATE, 0, b"", 4))
    write("ce-ioctl", "tracking-and-cancel", bytes([2, 0]) + call(IS_PRESENT) + call(IS_PRESENT + 1) + call(CANCEL) + call(12))
    write("ce-ioctl", "vendor", bytes([2, 3]) + call(ESCAPE, 0, b"\x01\x02", 64, frame(0x80, b"\x90\x00")) + call(INFO_, 0, b"", 16) + call(0, code=0x312008) + call(0, code=0x310020))
    write("ce-ioctl", "transmit-wtx-without-end", bytes([6, 0]) + power + protocol + call(TRANSMIT, 0, apdu, 300, t1(0xC3, b"\x01") + repeat(255)))


def ce_attach():
    # endpoint records, flags, moment, bulk-write statuses, interrupt notices,
    # I/O control calls, then the reader's answers
    def seed(endpoints=b"\0", flags=0, moment=0, writes=b"", notices=(), calls=(), answers=b""):
        return (endpoints + bytes([flags, moment, len(writes)]) + writes + bytes([len(notices)]) +
                b"".join(bytes([status]) + n for status, n in notices) + bytes([len(calls)]) +
                b"".join(bytes([code, len(inp)]) + inp + bytes([out // 2]) for code, inp, out in calls) + answers)

    POWER, GET_ATTR, TRANSMIT, SET_PROTOCOL, GET_STATE, IS_PRESENT, INFO_ = 0, 1, 3, 4, 5, 6, 11
    PULLED, HERE_, ELSEWHERE = 0, 1 << 3, 2 << 3
    attach = frame(0x60, INFO) + SLOT_OK
    inserted = [(0, b"\x50\x01")]
    calls = [(GET_STATE, b"", 4), (GET_ATTR, bytes([0, 0, 0, 0]), 64), (POWER, u32le(1), 64),
             (SET_PROTOCOL, u32le(2), 4), (TRANSMIT, u32le(2) + u32le(8) + b"\x00\xA4\x04\x00\x02\x3F\x00", 300)]
    use = power_on(ATR_T1) + frame(0x80, b"\xFF\x11\x11\xFF") + frame(0x81) + t1(0x00, b"\x90\x00")
    write("ce-attach", "attach-open-calls-unplug", seed(notices=inserted, calls=calls, answers=attach + use))
    # Gone at each call of the attach: three pipes, the reader information
    # (write, read), the power-off (write, read), the registration, the
    # card-status thread's first read.
    for name, how in [("pulled", PULLED), ("unplugged", HERE_), ("unplugged-elsewhere", ELSEWHERE)]:
        for moment in range(1, 10):
            write("ce-attach", "%s-at-call-%d" % (name, moment), seed(flags=how, moment=moment, answers=attach))
    write("ce-attach", "pulled-during-calls", seed(flags=ELSEWHERE, moment=12, notices=inserted, calls=calls, answers=attach + use))
    write("ce-attach", "gone-at-a-notice", seed(notices=[(0, b"\x50\x01"), (0, b"\x50\x00"), (5, b"\x00\x00")],
                                                calls=[(IS_PRESENT, b"", 0), (GET_STATE, b"", 4)], answers=attach))
    two = bytes([2, 0x81, 2, 0x02, 2])
    write("ce-attach", "no-interrupt-endpoint", seed(endpoints=two, answers=attach))
    write("ce-attach", "endpoints-in-another-order", seed(endpoints=bytes([3, 0x83, 3, 0x02, 2, 0x81, 2]), flags=1, answers=attach))
    write("ce-attach", "bulk-out-as-fourth-endpoint", seed(endpoints=bytes([4, 0x81, 3, 0x82, 2, 0x83, 3, 0x01, 2]), answers=attach))
    write("ce-attach", "mute-reader", seed(answers=timeout() + timeout()))
    write("ce-attach", "gone-during-information", seed(answers=unplug()))
    write("ce-attach", "wrong-information-type", seed(answers=frame(0x81, INFO) + SLOT_OK))
    write("ce-attach", "write-stalls-then-gone", seed(writes=bytes([4, 5]), answers=attach))
    write("ce-attach", "no-name-refused-introduction", seed(flags=2 | 4, calls=calls[:2], answers=attach))
    write("ce-attach", "block-allocation-fails", seed(flags=0x20, answers=attach))
    write("ce-attach", "card-status-thread-fails", seed(flags=0x40, answers=attach))
    write("ce-attach", "event-creation-fails", seed(flags=0x80, answers=attach))
    write("ce-attach", "second-open-refused", seed(moment=0x20, calls=calls[:1], answers=attach))


def mac_ifdh():
    def answers(a, crc=0):
        return word(len(a)) + a + bytes([crc])

    create = answers(frame(0x60, INFO) + SLOT_OK)
    power_up = bytes([3, 0]) + answers(SLOT_OK + power_on(ATR_T1) + frame(0x80, b"\xFF\x11\x11\xFF") + frame(0x81))
    transmit = bytes([4]) + word(7) + b"\x00\xA4\x04\x00\x02\x3F\x00" + word(258) + bytes([2]) + answers(SLOT_OK + t1(0xE1, b"\xFE") + t1(0x00, b"\x90\x00"))
    control = bytes([5, 1]) + word(6) + u32le(0x100) + b"\x01\x02" + word(64) + answers(SLOT_OK + frame(0x80, b"\x90\x00"))
    info = bytes([5, 3]) + word(4) + u32le(0x101) + word(16) + answers(SLOT_OK)
    presence = bytes([6]) + answers(SLOT_OK)
    write("mac-ifdh", "power-transmit-control", create + presence + power_up + transmit + control + info)
    caps = b"".join(bytes([0, i, 64]) + answers(SLOT_OK) for i in range(20))
    write("mac-ifdh", "capabilities", create + caps)
    write("mac-ifdh", "protocol-parameters", create + power_up + bytes([2, 2, 0, 0x11, 0, 0]) + answers(frame(0x81) + power_on(ATR_T1) + frame(0x80, b"\xFF\x11\x11\xFF") + frame(0x81)))
    write("mac-ifdh", "mute-reader", create + power_up + bytes([6]) + answers(timeout() + timeout()) + presence + transmit)
    stalled = bytes([4]) + word(5) + b"\x00\xB0\x00\x00\x10" + word(258) + bytes([2]) + answers(SLOT_OK + stall())
    write("mac-ifdh", "stalled-reader", create + power_up + stalled + presence + control)
    write("mac-ifdh", "unplugged-reader", create + power_up + bytes([6]) + answers(unplug()) + presence + transmit + control)
    write("mac-ifdh", "power-down-other-lun", create + bytes([3, 2]) + answers(SLOT_OK + frame(0x81)) + bytes([0x86, 4]) + answers(b"") + bytes([0x88, 1]) + answers(b""))


def win32():
    for name in ["win98se-en", "winxp-sp3-en", "nt4-zh-tw"]:
        folder = os.path.join(ROOT, "machines", name)
        write("win32-machine", name + ".toml", open(os.path.join(folder, "machine.toml"), "rb").read())
        write("win32-registry", name + ".reg", open(os.path.join(folder, "registry.reg"), "rb").read())
    write("win32-registry", "values.reg", b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\VQ]\r\n@=\"default\"\r\n"
          b"\"Text\"=\"a \\\"quoted\\\" \\\\ path\"\r\n\"Count\"=dword:0000001f\r\n\"Bytes\"=hex:01,02,ff,\\\r\n  03\r\n"
          b"\"Multi\"=hex(7):61,00,62,00,00\r\n\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\"Gone\"=-\r\n")


if __name__ == "__main__":
    for target in ["engine-frame", "engine-t1", "engine-atr", "ce-ioctl", "ce-attach", "mac-ifdh", "win32-machine", "win32-registry"]:
        shutil.rmtree(os.path.join(HERE, target, "corpus"), ignore_errors=True)
    engine_frame()
    engine_t1()
    engine_atr()
    ce_ioctl()
    ce_attach()
    mac_ifdh()
    win32()
