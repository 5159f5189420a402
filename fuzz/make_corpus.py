#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Run once after changing it (python3 fuzz/make_corpus.py); the files it writes are committed.
It only adds and overwrites its own seeds: inputs that a fuzz run found and that were added to
a corpus by hand (crash-*, regression-*) stay. Every file is made here from its bytes; none
comes from another program.
"""

import os
import struct

CORPUS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- Wave files ---------------------------------------------------------------------------


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def chunk(tag, body, pad=True):
    data = tag + u32(len(body)) + body
    if pad and len(body) % 2:
        data += b"\0"
    return data


def fmt_body(channels=1, rate=48000, bits=24, align=None, tag=1):
    if align is None:
        align = channels * bits // 8
    return u16(tag) + u16(channels) + u32(rate) + u32(rate * align) + u16(align) + u16(bits)


def extensible_body(channels=1, rate=48000, bits=24):
    # The 40-byte format chunk: the plain fields with format tag 0xFFFE, the extension size 22,
    # the valid bits, the channel mask and the sub-format GUID of integer PCM.
    guid = bytes.fromhex("0100000000001000800000aa00389b71")
    return fmt_body(channels, rate, bits, tag=0xFFFE) + u16(22) + u16(bits) + u32(4) + guid


def samples(frames, channels=1, width=3):
    out = bytearray()
    for k in range(frames * channels):
        out += ((k * 40503 + 7) & 0xFFFFFF).to_bytes(4, "little")[:width]
    return bytes(out)


def riff(chunks, riff_size=None, form=b"WAVE", tag=b"RIFF"):
    body = form + b"".join(chunks)
    return tag + u32(len(body) if riff_size is None else riff_size) + body


def wave(frames=1000, channels=1, rate=48000, bits=24, data_size=None, before_data=(), fmt=None, trailing=b""):
    pcm = samples(frames, channels, max(bits // 8, 1))
    size = len(pcm) if data_size is None else data_size
    fmt_chunk = chunk(b"fmt ", fmt if fmt is not None else fmt_body(channels, rate, bits))
    return riff([fmt_chunk, *before_data, b"data" + u32(size) + pcm + trailing])


def wave_corpus():
    t = "wave_readers"
    write(t, "canonical-mono24", wave())
    write(t, "canonical-mono24-44100-odd-length", wave(frames=4099, rate=44100))
    write(t, "canonical-mono24-no-samples", wave(frames=0))
    write(t, "stereo24", wave(channels=2))
    write(t, "channels-0", wave(fmt=fmt_body(channels=0, align=3)))
    write(t, "channels-65535", wave(fmt=fmt_body(channels=65535, align=0xFFFF)))
    write(t, "channels-256", wave(channels=1, fmt=fmt_body(channels=256)))
    write(t, "block-align-0", wave(fmt=fmt_body(align=0)))
    for bits in (0, 8, 16, 25, 32):
        write(t, "bits-%d" % bits, wave(bits=bits, frames=100))
    write(t, "bits-24-float-tag", wave(fmt=fmt_body(tag=3)))
    write(t, "fmt-14-bytes", wave(fmt=fmt_body()[:14]))
    write(t, "fmt-8-bytes", wave(fmt=fmt_body()[:8]))
    write(t, "fmt-0-bytes", wave(fmt=b""))
    write(t, "extensible-mono24", wave(fmt=extensible_body()))
    write(t, "extensible-stereo24", wave(channels=2, fmt=extensible_body(channels=2)))
    write(t, "data-size-larger-than-file", wave(frames=100, data_size=30000))
    write(t, "data-size-0-samples-present", wave(frames=100, data_size=0))
    for size in (0xFFFFFFFF, 0x7FFFFFFF, 0x80000000, 0x7FFFF000, 0xFFFFFFFE, 0xFFFFFFF0):
        write(t, "data-size-%08x" % size, wave(frames=100, data_size=size))
    write(t, "data-size-partial-frame", wave(frames=10, data_size=29))
    write(t, "trailing-1-byte", wave(frames=10, trailing=b"\x01"))
    write(t, "trailing-2-bytes", wave(frames=10, trailing=b"\x01\x02"))
    good = wave(frames=10)
    write(t, "riff-size-0", good[:4] + u32(0) + good[8:])
    write(t, "riff-size-ffffffff", good[:4] + u32(0xFFFFFFFF) + good[8:])
    write(t, "odd-chunk-padded", wave(before_data=[chunk(b"LIST", b"INFOabc")]))
    write(t, "odd-chunk-unpadded", wave(before_data=[chunk(b"LIST", b"INFOabc", pad=False)]))
    write(t, "even-chunk-before-data", wave(before_data=[chunk(b"junk", b"\0" * 28)]))
    # A chunk whose size runs past the end of the file, before and after the data.
    write(t, "oversized-chunk-before-data", wave(frames=10, before_data=[b"bext" + u32(0x7FFFFFF0) + b"short"]))
    write(t, "oversized-chunk-at-end", wave(frames=10) + b"LIST" + u32(0xFFFFFFFF) + b"INFO")
    write(t, "data-inside-list", wave(before_data=[chunk(b"LIST", b"INFOIcmt" + u32(8) + b"data1234")]))
    write(t, "fmt-inside-chunk-before-fmt",
          riff([chunk(b"LIST", b"INFOfmt " + fmt_body(channels=2)), chunk(b"fmt ", fmt_body()),
                b"data" + u32(30) + samples(10)]))
    write(t, "no-fmt", riff([b"data" + u32(30) + samples(10)]))
    write(t, "no-data", riff([chunk(b"fmt ", fmt_body())]))
    write(t, "two-data-chunks", wave(frames=10) + b"data" + u32(300) + samples(100))
    write(t, "data-before-fmt", riff([b"data" + u32(30) + samples(10), chunk(b"fmt ", fmt_body())]))
    write(t, "tags-at-odd-offsets", b"R" + riff([chunk(b"fmt ", fmt_body()), b"data" + u32(30) + samples(10)]))
    write(t, "data-header-cut-short", wave(frames=0)[:-2])
    write(t, "fmt-tag-at-end", b"RIFF" + u32(4) + b"WAVEfmt")
    write(t, "size-0", b"")
    write(t, "size-1", b"R")
    write(t, "size-11", b"RIFF" + u32(36) + b"WAV")
    write(t, "size-12", b"RIFF" + u32(4) + b"WAVE")
    write(t, "size-44-header-only", wave(frames=0))
    # A take header as the recorder writes it first: the planned length, no samples yet.
    write(t, "size-44-planned-take", wave(frames=0, data_size=3 * 480000))
    # The tags at the far end of the search region (offset 131072, the last one looked at)
    # and just beyond it; and tags across the end of the 4 KiB the readers look at first.
    filler = 131072 - 12 - 24
    write(t, "data-tag-at-last-offset",
          riff([chunk(b"fmt ", fmt_body()), chunk(b"junk", b"\0" * (filler - 8)), b"data" + u32(30) + samples(10)]))
    write(t, "data-tag-beyond-last-offset",
          riff([chunk(b"fmt ", fmt_body()), chunk(b"junk", b"\0" * (filler - 6)), b"data" + u32(30) + samples(10)]))
    write(t, "fmt-tag-at-last-offset-fields-missing",
          riff([chunk(b"junk", b"\0" * (131072 - 20)), b"fmt "]))
    write(t, "data-tag-across-quick-head",
          riff([chunk(b"fmt ", fmt_body()), chunk(b"junk", b"\0" * (4096 - 12 - 24 - 8 - 2)),
                b"data" + u32(30) + samples(10)]))
    write(t, "rf64-placeholder-sizes",
          riff([chunk(b"ds64", u32(0) * 7), chunk(b"fmt ", fmt_body()), b"data" + u32(0xFFFFFFFF) + samples(10)],
               riff_size=0xFFFFFFFF, tag=b"RF64"))
    # An AIFF file (big-endian, FORM/AIFF with COMM and SSND chunks) under a .wav name.
    comm = struct.pack(">hIh", 1, 10, 24) + bytes.fromhex("400EAC44000000000000")  # 44100 as 80-bit float
    ssnd = struct.pack(">II", 0, 0) + samples(10)
    aiff_body = b"AIFF" + b"COMM" + struct.pack(">I", len(comm)) + comm + b"SSND" + struct.pack(">I", len(ssnd)) + ssnd
    write(t, "aiff-renamed", b"FORM" + struct.pack(">I", len(aiff_body)) + aiff_body)
    # An MPEG audio stream with an ID3v2 tag: a tag header, then frame headers and empty frames.
    id3 = b"ID3\x03\x00\x00" + bytes([0, 0, 0, 10]) + b"TIT2" + u32(0) + b"\0\0"
    frame = bytes.fromhex("fffb9064") + b"\0" * 413
    write(t, "mpeg-renamed", id3 + frame * 3)


# --- Settings files ------------------------------------------------------------------------


def full_session(tracks=8, ranges=3, locates=3):
    lines = [
        "dv\thw:1,0", "sr\t48000", "inputs\t8", "outputs\t10", "ch\t%d" % tracks, "buf\t256", "int\t1",
        "clock\tuc", "peak\tcp", "i\t48128", "o\t480256", "e\t96256", "nudge\t0.2500", "proll\t1.000",
        "aud\t3.00", "xfade\t10.0", "mem\t1024", "odcomp\t4", "mix\t2", "meter\t-30", "tmode\t0",
        "tempo\t120.00", "sig\t4", "safe\t1",
    ]
    text = "\n".join(lines) + "\n"
    text += "\nVolume Settings:\n" + "".join("v\t%d\t%.2f\n" % (t, -0.5 * t) for t in range(1, tracks + 1))
    text += "\nPan Settings:\n" + "".join("p\t%d\t%.0f\n" % (t, (t * 37) % 201 - 100) for t in range(1, tracks + 1))
    text += "\nSolo Settings:\nsolo\t2\nsolo\t%d\n" % tracks
    text += "\nTime Ranges:\n" + "".join("range\t%d\t%d\tverse %d\n" % (k * 4096, k * 8192 + 1, k)
                                         for k in range(1, ranges + 1))
    text += "\nLocate Points:\n" + "".join("loc\t%d\tpoint %d\n" % (k * 1000, k) for k in range(1, locates + 1))
    text += "\nPlaylist Files:\nplay\t1\tplay.txt\nplay\t2\tmix b.txt\n"
    text += "\nRecordlist Files:\nrec\t1\trecord.txt\nrec\t128\tlast.txt\n"
    text += "\nBus Assignments:\nbus\t1\t1,2,5,\nbus\t2\t3,4,\n"
    text += "\nBus Volumes (dB):\nbusvl\t1\t-3.00\nbusvl\t2\t6.50\n"
    return text


def settings_corpus():
    t = "settings_file"
    write(t, "full-session", full_session())
    write(t, "first-run", "dv\tdefault\nsr\t44100\ninputs\t2\noutputs\t2\nch\t2\nbuf\t1024\nint\t1\n")
    write(t, "empty", "")
    write(t, "larger-than-8192", full_session(tracks=256, ranges=64, locates=64) +
          "bus\t3\t" + ",".join(str(k) for k in range(1, 257)) + ",\n")
    write(t, "more-than-64-ranges-and-locates", full_session(ranges=70, locates=70))
    write(t, "v-before-ch", "v\t3\t-6.00\np\t3\t40\nsolo\t3\nch\t8\nv\t3\t-6.00\n")
    write(t, "bus-list-with-junk", "bus\t2\t1,2,x,300,4,\nbus\t0\t1,\nbus\t65\t1,\nbus\t3\t,,,-1,256,257\n")
    write(t, "range-without-name", "range\t100\t200\t\nrange\t1\t2\nrange\nloc\t5\t\nloc\n")
    write(t, "list-slots-out-of-range", "play\t0\ta.txt\nplay\t129\tb.txt\nrec\t-1\tc.txt\nplay\t1\t\nrec\t64\t x y \n")
    write(t, "keyword-edge-values",
          "int\t5\ntmode\t7\nmix\t4\naud\t-2\nclock\thc\npeak\tnp\nclock\tsc\nint\t0\nmix\t3\ntmode\t1\n")
    write(t, "huge-numbers",
          "ch\t99999999999\ninputs\t-5\noutputs\t2147483648\nsr\t4294967296\nbuf\t-1\ni\t-2147483649\n"
          "o\t2147483647\ne\t2147483647\nmem\t-2147483648\nnudge\t1e39\nproll\t3.4e38\naud\t1e30\n"
          "xfade\t3.4e38\ntempo\t1e-45\nsig\t0\nmeter\t-2147483648\nodcomp\t2147483647\n"
          "range\t2147483647\t-2147483648\tfar\nloc\t-2147483648\tfirst\nbusvl\t1\t-1e30\nbusvl\t2\t1e30\n")
    write(t, "tempo-0-sig-0-measures", "tmode\t1\ntempo\t0\nsig\t0\ni\t48000\no\t96000\ne\t1\nmem\t-5\n")
    write(t, "sample-rate-0", "sr\t0\ni\t1000\no\t2000\nnudge\t0.5\nproll\t1\naud\t3\nxfade\t20\ntmode\t1\n")
    write(t, "nan-and-inf",
          "nudge\tnan\nproll\tinf\naud\t-inf\nxfade\tNAN\ntempo\tinfinity\nch\t4\nv\t1\tnan\np\t2\tinf\n"
          "busvl\t1\tnan\n")
    write(t, "long-names",
          "dv\t" + "d" * 300 + "\nrange\t1\t2\t" + "r" * 100 + "\nloc\t3\t" + "l" * 64 + "\nplay\t1\t" +
          "p" * 200 + "\nbus\t1\t" + "1," * 400 + "\n")
    write(t, "windows-line-ends", full_session().replace("\n", "\r\n"))
    write(t, "spaces-and-missing-values", "sr 48000\nch  4\ndv\n\ti\t\nv\t\t\nrange\t\t\t\n  \t \n\nch")
    write(t, "unknown-keys-and-headers", "Volume Settings:\nfoo\tbar\nsr\t\nvv\t1\t2\nSR\t8000\nch4\n")


# --- List files ----------------------------------------------------------------------------


def lists_input(flags, ch=4, inputs=2, outputs=2, mix=0, rate=0, solo=0, busses=(0, 0, 0, 0), active=0, armed=0,
                entry=0, playlist="", record="", typed="", takes="", wav=b""):
    head = bytes([flags, ch, inputs, outputs, mix & 0xFF, rate]) + u16(solo)
    head += b"".join(u16(b) for b in busses) + bytes([active]) + u16(armed) + bytes([entry & 0xFF])
    assert len(head) == 20
    text = "\0".join([playlist, record, typed, takes]).encode("latin-1") + b"\0"
    return head + text + wav


PLAYS, RECORDS, MONITOR, SOLO, AUDITION, NO_PLAYLIST, NO_RECORD_LIST = 1, 2, 4, 8, 16, 32, 64
EVERY_FILE = "a.wav\nb.wav\n-\ns.wav\np.wav\nz.wav\nmissing.wav\nd\nf\nw.wav\n-x\na.wav\n"


def lists_corpus():
    t = "list_files"
    write(t, "record-run-every-kind-of-file",
          lists_input(PLAYS | RECORDS, ch=12, inputs=4, outputs=4, playlist=EVERY_FILE,
                      record="a.wav\nnew.wav\n-\n-x\nd\n", takes="take1.wav\ntake2.wav\n", wav=wave(frames=50)))
    for mode in (0, 1, 2, 3, 7, 0xFF):
        write(t, "listing-mix-mode-%d" % mode,
              lists_input(PLAYS, ch=10, inputs=2, outputs=4, mix=mode, solo=0b101,
                          busses=(0b11, 0b1100, 0b10000, 0), active=0b0101, playlist=EVERY_FILE))
    write(t, "soloed-play", lists_input(PLAYS | SOLO, ch=6, solo=0b100010, playlist=EVERY_FILE, rate=1))
    write(t, "monitor", lists_input(MONITOR, inputs=3, record="a.wav\n-\n\n\nb.wav\n"))
    write(t, "audition-hybrid",
          lists_input(PLAYS | AUDITION, ch=6, armed=0b1110010011, playlist="a.wav\nb.wav\n-\n",
                      takes="w.wav\n-\nw.wav\n", wav=wave(frames=20)))
    write(t, "lists-missing-names-typed",
          lists_input(PLAYS | RECORDS | NO_PLAYLIST | NO_RECORD_LIST, playlist="a.wav\n",
                      typed="gone.txt d f a.wav play.txt gone2.txt record.txt w"))
    write(t, "lists-missing-input-ends", lists_input(PLAYS | NO_PLAYLIST, typed="nothing.txt"))
    write(t, "blank-lines-and-carriage-returns",
          lists_input(PLAYS | RECORDS, playlist="\n\na.wav\r\n\n\nb.wav\n\n", record="\r\n-\n\na.wav\n"))
    write(t, "largest-counts",
          lists_input(PLAYS | RECORDS | MONITOR, ch=255, inputs=255, outputs=0, mix=1,
                      playlist="a.wav\n" * 300, record="x.wav\n-\n" * 150, entry=-1))
    write(t, "list-over-4096-bytes",
          lists_input(PLAYS, ch=200, playlist="".join("track%03d.wav\n" % k for k in range(400)), entry=127))
    write(t, "overwrite-check-answers",
          lists_input(RECORDS, inputs=3, record="a.wav\nb.wav\n-\n", typed="q w W r"))
    write(t, "empty-lists", lists_input(PLAYS | RECORDS, ch=0, inputs=0, outputs=0))
    write(t, "other-rates", lists_input(PLAYS, ch=2, rate=3, playlist="a.wav\nb.wav\n"))


# --- Command words -------------------------------------------------------------------------


def dispatch_corpus():
    t = "command_dispatch"
    scripts = {
        "help-pages": "+ a b c h c mix h c d",
        "every-point-command": "i 1.5 o 3 e 0.75 i12.5 o30 e4 i.5 j J n b N B no bo ne be nn 0.3 n "
                               "i.e e.i o.e e.o o.i i.o i.m o.m e.m m.i m.o m.e",
        "points-beyond-limits": "o99999999 i-5 e1e30 i nan o inf e -inf o 2147483.647 nn 1e9 N B",
        "locates-and-ranges": "i.l 3 verse o.l 64 e.l 65 m.l 0 l.i 3 l.o 64 l.e 1 l.m 2 ll n 3 new k 3 c "
                              "io. io. .io 1 .io 2 lio n 1 chorus k 1 c",
        "play-and-solo": "p sp so a 1,3 r 2 d sp so a 1,2,3,4,5,300 d sp",
        "record-then-each-take-command": "r del R rep w r ins R cin r app x R aws y r awp z R pad r stp",
        "record-named-takes": "r_vox2 R_take2 ri_take3 R_ ri",
        "record-without-stop": "o0 r c R c e3 o2 r c",
        "record-overwrite-answers": "R rep q r del R rep W R rep safe 1 R rep n y",
        "audition-takes": "r aud 0 c aud 1 aud 4 aud 9 del ai ao ae aa 0.2 ai",
        "export-both-kinds": "exp-i mix c exp-s split c o0 exp-i mod 3 exp-i bus c exp-s m3 c",
        "mixer-console": "mix 2v-6 3p-40 1b-4 1b-200 9v3 2v 5p-20x h c u sp lp c d mod 2 p mod 1 p mod 3 p",
        "bus-routing": "bus a 1 1,2 a 2 3,4,5 r 1 2 c mod 3 p exp-i b c",
        "settings-menus": "opt sc d opt hc int0 d opt np uc cp int1 d tempo 1 2 90 3 3 9 p tempo 2 0 3 -4 4 "
                          "safe 1 safe 2 safe x mtr -60 mtr 0 p mtr -200 pre 1 pre -1 pre d cf 20 cf -5 0 cf d "
                          "aa 2 aa -1 ai",
        "list-selection": "pf 2 p pf alt.txt p rf 2 R del pf nosuch.txt p play.txt lr c lp c rf rem 2 a x.txt d",
        "longest-file-and-save": "f p s x",
        "monitors": "ma 0.2 mr 0.5 ma 1e9",
        "long-runs-cut-by-the-budgets": "o 100000 R rep w exp-i long c p",
        "tempo-mode-points": "tempo 1 2 60 3 3 9 i 2 1 o 5 2 e 3 3 i4.2 o9 p r del",
        "unknown-words": "hello X rr mixer c 0 - io i.5 exp e.x il.x take.low l.l",
    }
    for name, words in scripts.items():
        write(t, name, words + "\n")
    write(t, "empty", "")


if __name__ == "__main__":
    wave_corpus()
    settings_corpus()
    lists_corpus()
    dispatch_corpus()
