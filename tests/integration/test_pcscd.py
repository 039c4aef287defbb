"""pcscd loads the ifdhandler bundle and drives simulated readers; real
clients (pyscard, pcsc_scan, opensc-tool) use them.

Run one case per process (libpcsclite keeps the first socket name it saw):
  python3 test_pcscd.py BUNDLE_SO VQREADER_SIM Case.test_name
"""

import os
import subprocess
import sys
import time
import unittest

from pcscd_harness import Daemon, wait_for

BUNDLE = None
SIM = None
READER = "TERVANE VQ480T 00 00"

# Applet commands of the simulated cards.
SELECT = [0x00, 0xA4, 0x04, 0x00, 0x07, 0xF0, 0x56, 0x51, 0x55, 0x53, 0x42, 0x01]
SELECT_UNKNOWN = [0x00, 0xA4, 0x04, 0x00, 0x03, 0x01, 0x02, 0x03]


def challenge(le):
    return [0x00, 0x84, 0x00, 0x00, le & 0xFF]


def echo(data, le=None):
    apdu = [0x80, 0xEE, 0x00, 0x00, len(data)] + list(data)
    return apdu + ([le] if le is not None else [])


def hexstr(b):
    return "".join("%02X" % x for x in b)


def with_tck(atr):
    tck = 0
    for b in atr[1:]:
        tck ^= b
    return atr + [tck]


# ATRs the simulated cards are given, so that the clients' view can be
# compared byte for byte: T=0 with TA1 0x13; T=1 with TA1 0x13, IFSC 254.
HISTORICAL = [0x56, 0x51, 0x54, 0x45, 0x53, 0x54]
ATR_T0 = [0x3B, 0x16, 0x13] + HISTORICAL
ATR_T1 = with_tck([0x3B, 0x96, 0x13, 0x81, 0x31, 0xFE, 0x45] + HISTORICAL)


class PcscdCase(unittest.TestCase):
    readers = [["--card", "t1"]]
    ready_state = "SCARD_STATE_PRESENT"  # what setUp waits for

    def before_daemon(self, sims, sim_exe):
        pass

    def setUp(self):
        self.daemon = Daemon(BUNDLE, SIM, self.readers, before_daemon=self.before_daemon)
        self.addCleanup(self.daemon.stop)
        from smartcard import scard
        self.scard = scard
        rv, self.ctx = scard.SCardEstablishContext(scard.SCARD_SCOPE_USER)
        self.assertEqual(rv, 0, scard.SCardGetErrorMessage(rv))
        self.addCleanup(scard.SCardReleaseContext, self.ctx)
        self.wait_state(READER, getattr(scard, self.ready_state))

    def fail_with_log(self, message):
        self.fail(message + "\n--- pcscd log ---\n" + self.daemon.daemon_log())

    def wait_state(self, reader, wanted, timeout=5):
        """Waits until the reader's state has the bit `wanted`."""
        s = self.scard
        deadline = time.monotonic() + timeout
        state = s.SCARD_STATE_UNAWARE
        while time.monotonic() < deadline:
            rv, states = s.SCardGetStatusChange(self.ctx, 500, [(reader, state)])
            if rv == 0:
                state = states[0][1] & ~s.SCARD_STATE_CHANGED
                if state & wanted:
                    return states[0]
            elif rv != s.SCARD_E_TIMEOUT:
                self.fail_with_log("SCardGetStatusChange: " + s.SCardGetErrorMessage(rv))
        self.fail_with_log("reader %r never reached state 0x%x" % (reader, wanted))

    def connect(self, protocol, reader=READER):
        s = self.scard
        rv, card, active = s.SCardConnect(self.ctx, reader, s.SCARD_SHARE_SHARED, protocol)
        if rv != 0:
            self.fail_with_log("SCardConnect: " + s.SCardGetErrorMessage(rv))
        self.addCleanup(s.SCardDisconnect, card, s.SCARD_LEAVE_CARD)
        self.assertEqual(active, protocol)
        return card

    def transmit(self, card, protocol, apdu):
        s = self.scard
        rv, answer = s.SCardTransmit(card, protocol, apdu)
        if rv != 0:
            self.fail_with_log("SCardTransmit: " + s.SCardGetErrorMessage(rv))
        return answer

    def atr_of(self, card):
        s = self.scard
        rv, reader, state, protocol, atr = s.SCardStatus(card)
        self.assertEqual(rv, 0)
        return atr


class T0Card(PcscdCase):
    readers = [["--card", "t0", "--atr", hexstr(ATR_T0)]]

    def test_atr_and_apdus(self):
        s = self.scard
        card = self.connect(s.SCARD_PROTOCOL_T0)
        atr = self.atr_of(card)
        self.assertEqual(atr, ATR_T0)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T0, SELECT), [0x90, 0x00])
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T0, SELECT_UNKNOWN), [0x6A, 0x82])
        answer = self.transmit(card, s.SCARD_PROTOCOL_T0, challenge(8))
        self.assertEqual(len(answer), 10)
        self.assertEqual(answer[-2:], [0x90, 0x00])
        # The ATR attribute is the ATR of the connection.
        rv, attr = s.SCardGetAttrib(card, s.SCARD_ATTR_ATR_STRING)
        self.assertEqual(rv, 0)
        self.assertEqual(attr, atr)

    def test_reconnect_with_reset(self):
        s = self.scard
        card = self.connect(s.SCARD_PROTOCOL_T0)
        rv, active = s.SCardReconnect(card, s.SCARD_SHARE_SHARED, s.SCARD_PROTOCOL_T0,
                                      s.SCARD_RESET_CARD)
        self.assertEqual(rv, 0, s.SCardGetErrorMessage(rv))
        self.assertEqual(active, s.SCARD_PROTOCOL_T0)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T0, SELECT), [0x90, 0x00])


class T1Card(PcscdCase):
    readers = [["--card", "t1", "--atr", hexstr(ATR_T1)]]

    def test_apdus(self):
        s = self.scard
        card = self.connect(s.SCARD_PROTOCOL_T1)
        self.assertEqual(self.atr_of(card), ATR_T1)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T1, SELECT), [0x90, 0x00])
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T1, SELECT_UNKNOWN), [0x6A, 0x82])
        rv, attr = s.SCardGetAttrib(card, s.SCARD_ATTR_ATR_STRING)
        self.assertEqual(rv, 0)
        self.assertEqual(attr, ATR_T1)
        # The vendor name attribute comes from the handler's description.
        rv, attr = s.SCardGetAttrib(card, s.SCARD_ATTR_VENDOR_NAME)
        self.assertEqual(rv, 0)
        self.assertEqual(bytes(attr).rstrip(b"\0"), b"TERVANE")

    def test_long_command_and_answer(self):
        s = self.scard
        card = self.connect(s.SCARD_PROTOCOL_T1)
        data = [(i * 7) & 0xFF for i in range(250)]
        command = echo(data)
        self.assertEqual(len(command), 255)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T1, command), data + [0x90, 0x00])
        answer = self.transmit(card, s.SCARD_PROTOCOL_T1, challenge(0))
        self.assertEqual(len(answer), 256 + 2)
        self.assertEqual(answer[-2:], [0x90, 0x00])
        data = list(range(255))
        answer = self.transmit(card, s.SCARD_PROTOCOL_T1, echo(data, 0))
        self.assertEqual(answer, data + [0x90, 0x00])

    def test_reconnect_with_reset(self):
        s = self.scard
        card = self.connect(s.SCARD_PROTOCOL_T1)
        rv, active = s.SCardReconnect(card, s.SCARD_SHARE_SHARED, s.SCARD_PROTOCOL_T1,
                                      s.SCARD_RESET_CARD)
        self.assertEqual(rv, 0, s.SCardGetErrorMessage(rv))
        self.assertEqual(self.atr_of(card), ATR_T1)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T1, SELECT), [0x90, 0x00])

    def test_removal_and_insertion(self):
        s = self.scard
        self.daemon.sims[0].remove_card()
        self.wait_state(READER, s.SCARD_STATE_EMPTY)
        rv, card, active = s.SCardConnect(self.ctx, READER, s.SCARD_SHARE_SHARED,
                                          s.SCARD_PROTOCOL_T1)
        self.assertEqual(rv, s.SCARD_E_NO_SMARTCARD, s.SCardGetErrorMessage(rv))
        self.daemon.sims[0].insert_card()
        self.wait_state(READER, s.SCARD_STATE_PRESENT)
        card = self.connect(s.SCARD_PROTOCOL_T1)
        self.assertEqual(self.atr_of(card), ATR_T1)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T1, SELECT), [0x90, 0x00])


# The longest ATR the daemon holds (33 bytes): four levels of interface bytes,
# 15 historical bytes and TCK; TA2 0x81 (T=1, specific mode).
ATR_33 = with_tck([0x3B, 0xFF, 0x11, 0x00, 0x00, 0xF1, 0x81, 0x00, 0x00, 0xF1, 0xFE, 0x45, 0x00,
                   0x71, 0xFE, 0x45, 0x00] + list(range(0x41, 0x41 + 15)))


class LongAtr(PcscdCase):
    readers = [["--card", "t1", "--atr", hexstr(ATR_33)]]

    def test_33_byte_atr_connects(self):
        s = self.scard
        self.assertEqual(len(ATR_33), 33)
        card = self.connect(s.SCARD_PROTOCOL_T1)
        self.assertEqual(self.atr_of(card), ATR_33)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T1, SELECT), [0x90, 0x00])


# An escape request for the handler's control entry (IFD handler 2.0: the
# control code is the first four bytes, 0x100, host order).
ESCAPE = [0x00, 0x01, 0x00, 0x00, 0xA1, 0xA2, 0xA3]


class BrokenReader(PcscdCase):
    """The reader is pulled, or its pipe stalls, while a client waits in
    SCardGetStatusChange: the client sees the reader become unavailable within
    one polling period, and transmit, control and connect fail at once."""
    readers = [["--card", "t1", "--atr", hexstr(ATR_T1)]]

    # The change must reach the waiting client this soon after the reader
    # breaks: one polling period of the daemon (0.4 s) and slack for a busy
    # machine.
    CHANGE_BOUND = 5.0
    BREAK_DELAY = 0.3  # the client is waiting before the reader breaks

    def break_while_waiting(self, command):
        s = self.scard
        card = self.connect(s.SCARD_PROTOCOL_T1)
        self.assertEqual(self.transmit(card, s.SCARD_PROTOCOL_T1, SELECT), [0x90, 0x00])
        state = self.wait_state(READER, s.SCARD_STATE_PRESENT)[1] & ~s.SCARD_STATE_CHANGED
        breaker = subprocess.Popen(
            ["sh", "-c", 'sleep %s; exec "$0" --control "$1" "$2"' % self.BREAK_DELAY,
             SIM, self.daemon.sims[0].socket_path, command])
        start = time.monotonic()
        rv, states = s.SCardGetStatusChange(self.ctx, 10000, [(READER, state)])
        waited = time.monotonic() - start
        self.assertEqual(breaker.wait(timeout=10), 0, "vqreader-sim --control " + command)
        self.assertEqual(rv, 0, s.SCardGetErrorMessage(rv))
        event = states[0][1]
        self.assertTrue(event & s.SCARD_STATE_CHANGED, hex(event))
        self.assertTrue(event & s.SCARD_STATE_UNAVAILABLE, hex(event))
        self.assertFalse(event & s.SCARD_STATE_PRESENT, hex(event))
        self.assertLess(waited, self.BREAK_DELAY + self.CHANGE_BOUND)

        start = time.monotonic()
        rv, answer = s.SCardTransmit(card, s.SCARD_PROTOCOL_T1, SELECT)
        self.assertEqual(rv, s.SCARD_E_READER_UNAVAILABLE, s.SCardGetErrorMessage(rv))
        self.assertEqual(answer, [])
        rv, answer = s.SCardControl(card, s.SCARD_CTL_CODE(1), ESCAPE)
        self.assertNotEqual(rv, 0)
        self.assertEqual(answer, [])
        rv, other, active = s.SCardConnect(self.ctx, READER, s.SCARD_SHARE_SHARED,
                                           s.SCARD_PROTOCOL_T1)
        self.assertEqual(rv, s.SCARD_E_READER_UNAVAILABLE, s.SCardGetErrorMessage(rv))
        self.assertLess(time.monotonic() - start, 5.0, "calls on a broken reader must not wait out a read time-out")

        # Later polls keep it so: it does not come back as holding a card.
        time.sleep(1.0)
        rv, states = s.SCardGetStatusChange(self.ctx, 0, [(READER, s.SCARD_STATE_UNAWARE)])
        self.assertEqual(rv, 0, s.SCardGetErrorMessage(rv))
        self.assertTrue(states[0][1] & s.SCARD_STATE_UNAVAILABLE, hex(states[0][1]))
        self.assertFalse(states[0][1] & s.SCARD_STATE_PRESENT, hex(states[0][1]))

    def test_unplug(self):
        self.break_while_waiting("unplug")

    def test_stall(self):
        self.break_while_waiting("stall")


class EmptySlot(PcscdCase):
    """A reader without a card, reached by a direct connection."""
    readers = [["--card", "none"]]
    ready_state = "SCARD_STATE_EMPTY"

    def test_failed_control_answers_no_bytes(self):
        s = self.scard
        rv, card, active = s.SCardConnect(self.ctx, READER, s.SCARD_SHARE_DIRECT, 0)
        self.assertEqual(rv, 0, s.SCardGetErrorMessage(rv))
        self.addCleanup(s.SCardDisconnect, card, s.SCARD_LEAVE_CARD)
        for request in ([0x01, 0x01, 0x00, 0x00], ESCAPE):
            rv, answer = s.SCardControl(card, s.SCARD_CTL_CODE(1), request)
            self.assertNotEqual(rv, 0)
            self.assertEqual(answer, [], "bytes handed out with a failure")


class OtherCards(PcscdCase):
    """One card of another kind per case."""

    def check_select(self, protocol):
        card = self.connect(protocol)
        self.assertEqual(self.transmit(card, protocol, SELECT), [0x90, 0x00])
        answer = self.transmit(card, protocol, challenge(16))
        self.assertEqual(len(answer), 18)


class CrcCard(OtherCards):
    readers = [["--card", "t1-crc"]]

    def test_t1_with_crc(self):
        self.check_select(self.scard.SCARD_PROTOCOL_T1)


class InverseCard(OtherCards):
    readers = [["--card", "inverse"]]

    def test_inverse_convention(self):
        self.check_select(self.scard.SCARD_PROTOCOL_T0)


class BusyReader(OtherCards):
    """A reader another client holds exclusively is seized (after a second)."""
    readers = [["--card", "t1"]]

    def before_daemon(self, sims, sim_exe):
        r = subprocess.run([sim_exe, "--control", sims[0].socket_path, "busy", "on"],
                           capture_output=True, text=True, timeout=10)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_busy_reader_is_seized(self):
        self.check_select(self.scard.SCARD_PROTOCOL_T1)
        r = subprocess.run([SIM, "--control", self.daemon.sims[0].socket_path, "identity"],
                           capture_output=True, text=True, timeout=10)
        self.assertIn("busy 0", r.stdout)


class Tools(PcscdCase):
    readers = [["--card", "t1", "--location", "0x14100000"],
               ["--card", "t0", "--location", "0x14200000"]]

    def run_tool(self, args):
        r = subprocess.run(args, env=self.daemon.client_env(), capture_output=True, text=True,
                           timeout=30)
        return r.returncode, r.stdout + r.stderr

    def test_two_readers_listed(self):
        s = self.scard
        rv, readers = s.SCardListReaders(self.ctx, [])
        self.assertEqual(rv, 0)
        self.assertEqual(readers, [READER, "TERVANE VQ480T 2 01 00"])
        code, out = self.run_tool(["pcsc_scan", "-r"])
        self.assertEqual(code, 0, out)
        self.assertIn(READER, out)

    def test_opensc_tool(self):
        code, out = self.run_tool(["opensc-tool", "--list-readers"])
        self.assertEqual(code, 0, out)
        self.assertIn("TERVANE VQ480T", out)
        code, out = self.run_tool(["opensc-tool", "-r", "0", "--atr"])
        self.assertEqual(code, 0, out)
        self.assertRegex(out.lower(), r"3b[: ]")

    def test_pcsc_scan_sees_the_card(self):
        code, out = self.run_tool(["pcsc_scan", "-n", "-t", "2"])
        self.assertIn(READER, out)
        self.assertIn("Card inserted", out)


if __name__ == "__main__":
    BUNDLE, SIM = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
