#!/usr/bin/env python3
"""Writes the seed inputs of the fuzzers: valid inputs in each fuzzer's own input layout (see the
head of each fuzz/*.cpp), so that a run starts deep inside the code instead of at its first
check. Run it again after a fuzzer's layout changes; the files are committed."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

PLAIN = "0123456789.:"
TOKEN = "kwhmzrfsuxgj"


def encode(plain):
    """The address encoder: pairs of plain characters through (5 2 / 7 3) modulo 12."""
    if len(plain) % 2:
        plain += ":"
    out = []
    for i in range(0, len(plain), 2):
        x1, x2 = PLAIN.index(plain[i]), PLAIN.index(plain[i + 1])
        out.append(TOKEN[(5 * x1 + 2 * x2) % 12])
        out.append(TOKEN[(7 * x1 + 3 * x2) % 12])
    return "".join(out)


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


def announce():
    colours = [0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0, 0x808080, 0x123456, 0xABCDEF, 1, 2]
    packed = b"".join(struct.pack("<I", c) for c in colours)
    write("announce_fuzz", "fader_seven_colours_wavy", b"\x00\x07\x01" + packed + b"Kraftwerk - Das Model")
    write("announce_fuzz", "fader_one_colour_plain", b"\x00\x01\x00" + packed + b"Nena - 99 Luftballons \xe4\xf6\xfc")
    write("announce_fuzz", "encoder_address_and_port", b"\x01" + b"21127.0.0.1:4711:::")
    write("announce_fuzz", "encoder_reply_with_line_end", b"\x01" + b"3184.12.3.4\r\n:1000:::")
    write("announce_fuzz", "channel_halfway", b"\x02\x00\xff" + struct.pack("<d", 25.5) + struct.pack("<q", 5))


def link_decode():
    token = encode("21127.0.0.1:4711:::")
    write("link_decode_fuzz", "link_target", "www.brenloplug:" + token)
    write("link_decode_fuzz", "bare_token", token)
    write("link_decode_fuzz", "chat_line_with_link",
          '<font face="Arial"><b>Kraftwerk - Das Model <a href="WWW.BrenloPlug:%s">Download</a>\r\n'
          % encode("01192.168.178.20:65535:::"))
    write("link_decode_fuzz", "reply_with_noise", "www.brenloplug:" + encode("5184.12.3.4:::.:4711:::"))
    # Plain texts as the decoder gives them (the fuzzer reads its input as one as well).
    write("link_decode_fuzz", "plain_address_and_port", "21127.0.0.1:4711:::")
    write("link_decode_fuzz", "plain_reply_with_two_addresses", "31..84.12.3.4.:10.0.0.1:1.2:65535:::::")
    # Round trip layout: four octets, port (little endian), split, kind, then noise bytes.
    write("link_decode_fuzz", "round_trip_html_reply",
          bytes([84, 12, 3, 4]) + struct.pack("<H", 4710) + bytes([6, 2]) + b"<html>Your IP: </html>")


def profile_reader():
    for language in ("german", "english"):
        path = os.path.join(ROOT, "lang", language, "brenloplug_language.ini")
        with open(path, "rb") as f:
            content = f.read()
        write("profile_reader_fuzz", "language_file_" + language,
              b"language_filesharing/acceptdownloadmsg\n" + content)
    write("profile_reader_fuzz", "capitals_quotes_and_blanks",
          "LANGUAGE_AOL/chk_aolfs\n; comment\n[Language_Aol]\r\n  CHK_AOLFS =  \"Dateiaustausch aktivieren?\"  \r\n")
    write("profile_reader_fuzz", "bom_and_second_section",
          "\xef\xbb\xbflanguage_other/firststartmessage\n[language_other]\nfirststartmessage='Jetzt?'\n"
          "[language_other]\nfirststartmessage=zweite\n")
    write("profile_reader_fuzz", "key_without_equals", "s/k\n[s]\nk\nk=spaeter\n")


def u_config():
    # Records: subkey (0 general, 1 aol, 2 fs, 3 fader), name index, type, length, bytes.
    names = ["enablechat", "enablefade", "presongtitle", "postsongtitle", "preposttitlefade",
             "enablefontformat", "extsonginfo", "fontface", "bold", "italic", "underline",
             "strikeout", "enableaol", "aoladvertising", "aolwavyscroll", "aolfs", "fsport",
             "fadecolors", "fadecolor1", "fadecolor5", "fadecolor10"]
    reg_sz, reg_dword = 1, 4

    def record(subkey, name, kind, data):
        return bytes([subkey, names.index(name), kind, len(data)]) + data

    def dword(v):
        return struct.pack("<I", v)

    def sz(text):
        return text.encode("latin-1") + b"\0"

    general = b"".join(record(0, n, reg_dword, dword(1)) for n in
                       ["enablechat", "enablefade", "preposttitlefade", "enablefontformat",
                        "extsonginfo", "bold"])
    general += record(0, "presongtitle", reg_sz, sz("Ich h\xf6re gerade"))
    general += record(0, "postsongtitle", reg_sz, sz("von BrenloPlug"))
    general += record(0, "fontface", reg_sz, sz("Arial"))
    aol = b"".join(record(1, n, reg_dword, dword(1)) for n in
                   ["enableaol", "aoladvertising", "aolwavyscroll", "aolfs"])
    aol += record(2, "fsport", reg_sz, sz("4711"))
    fader = record(3, "fadecolors", reg_dword, dword(7))
    fader += record(3, "fadecolor1", reg_dword, dword(0x0000FF))
    fader += record(3, "fadecolor5", reg_dword, dword(0x00FF00))
    fader += record(3, "fadecolor10", reg_dword, dword(0xFF0000))
    write("u_config_fuzz", "settings_image_all_groups", general + aol + fader)
    write("u_config_fuzz", "settings_image_wrong_type_stops_group",
          record(1, "enableaol", reg_dword, dword(1)) + record(1, "aoladvertising", reg_sz, sz("ja"))
          + record(2, "fsport", reg_sz, sz("1000")))
    write("u_config_fuzz", "settings_image_text_with_zero",
          record(0, "presongtitle", reg_sz, b"vor\0nach\0") + record(3, "fadecolors", reg_dword, dword(42)))


class Ops:
    def __init__(self):
        self.b = bytearray()

    def add(self, *values):
        for v in values:
            if isinstance(v, (bytes, bytearray)):
                self.b += v
            elif isinstance(v, str):
                self.b += v.encode("latin-1")
            else:
                self.b.append(v & 0xFF)
        return self


def transfer():
    # Steps (op % 9): 0 connect, 1 message (kind, ..., split at, run between), 3 peer close,
    # 4 clock, 5 writable, 6 send plan. A question reads: nested steps, then the answer.
    def download(size_byte, name="Fan83"):
        o = Ops().add(size_byte)
        o.add(0)                                        # connect
        o.add(1, 0, len(name), name, 5, 0)              # request file:<name> (at most 7), one read
        o.add(0, 1)                                     # no nested step; answer yes
        o.add(1, 1, 3, 0)                               # ok sendfile
        o.add(1, 5, 4, 1)                               # status with the file's size
        o.add(4, 30)                                    # the statistics timer
        o.add(3)                                        # the peer closes
        return o.b
    write("transfer_fuzz", "download_accepted", download(10))
    o = Ops().add(3, 0, 1, 0, 4, "nein", 0, 0, 0, 0)   # asked, answered no
    write("transfer_fuzz", "download_declined", o.b)
    o = Ops().add(20, 0, 1, 0, 3, "Fan", 2, 0, 0, 1, 6, 0, 1, 1, 0, 0, 5, 1, 2, 0, 0, 3 | 0x10)
    write("transfer_fuzz", "blocked_send_then_cancel_and_reset", o.b)
    o = Ops().add(5, 0, 1, 0, 4, "peer", 0, 0, 2, 3, 0, 0, 1, 1, 0, 0)  # a close during the question
    write("transfer_fuzz", "peer_leaves_during_question", o.b)


def fileserver_window():
    # Steps (op % 12): 0 connect from one of six addresses, 1 from another, 2 many from new
    # addresses, 3 message (peer, kind, ..., split at, run between), 4 junk, 5 peer close
    # (0x10: reset), 6 clock (seconds), 7 send plan / writable, 8 port move (0x10: the port is
    # taken, 0x20: typed into the port field), 9 answer an open question (0x10: yes), 10 mouse
    # over a bar, 11 deferred calls. The flags sit in the op byte: 21 is "yes", 20 a taken port.
    YES, NO, TAKEN_PORT, TYPED_PORT = 21, 9, 20, 44
    def request(peer, name):  # a name of at most seven characters, arriving in one read
        return [3, peer, 0, len(name), name, 4, 0]

    o = Ops().add(10)
    o.add(0, 1, *request(0, "Fan83"))
    o.add(YES, 0)                          # inside the question
    o.add(3, 0, 1, 3, 0)                   # ok sendfile
    o.add(3, 0, 4, 2, 0)                   # status with the file's size
    o.add(6, 2, 10, 0, 5, 0)               # time, the mouse, the peer closes
    write("fileserver_window_fuzz", "one_download", o.b)

    o = Ops().add(5)
    for host in range(5):
        o.add(1, host)
    for peer in range(5):
        o.add(3, peer, 0, 4, "fan%d" % peer, 2, 0)
    # Inside the questions: answers and a peer that gives up while waiting.
    o.add(5, 3, YES, 2, NO, 1, YES, 0, 11)
    write("fileserver_window_fuzz", "queue_of_questions", o.b)

    o = Ops().add(1)
    for _ in range(6):
        o.add(0, 2)                        # one address, six times
    o.add(2, 39)                           # a flood from many addresses
    o.add(6, 31, 6, 200, 11)               # idle time runs out
    write("fileserver_window_fuzz", "flood_and_idle", o.b)

    o = Ops().add(7)
    o.add(0, 1, *request(0, "Fan"))
    o.add(8, 1)                            # the port moves during the question
    o.add(YES, 0, 11)
    o.add(TAKEN_PORT, 2)                   # the next port is taken
    o.add(TYPED_PORT, 2, 11)               # typed into the port field
    o.add(0, 3, *request(1, "Zwei"), NO, 0, 11)
    write("fileserver_window_fuzz", "port_moves", o.b)


def chat_page():
    line = ('<font face="Arial"><b></i></u></s><font color="#FF0000">I<font color="#F90600">c'
            '<sup><font color="#F20D00">h</sup> Nena - 99 Luftballons \xe4\xf6\xfc '
            '<a href="www.brenloplug:' + encode("127.0.0.1:4711") + '" title="Download">'
            '<font face="Wingdings">\xca</a>')
    write("chat_page_fuzz", "composed_line", line)
    transcript = ("chat: room 'Musik': BrenloPlug3alpha >>2<< for Winamp5\n"
                  "chat: room 'Musik': " + line + "\n"
                  "chat: room 'Lobby': <font color=\"#00FF00\">x<sub>y</sub>\n"
                  "chat: room 'Lobby' input 1: hallo, wie gehts?\n"
                  "chat: room 'Musik' input 1: \n")
    write("chat_page_fuzz", "transcript", transcript)


if __name__ == "__main__":
    announce()
    link_decode()
    profile_reader()
    u_config()
    transfer()
    fileserver_window()
    chat_page()
