#!/usr/bin/env python3
"""Tag writer and checker for the audio fixtures in tests/fixtures/.

Called by scripts/make-fixtures.sh; needs python3-mutagen.

  fixture_tags.py tag FILE          write the tag values listed in FIXTURES for
                                    FILE (looked up by its base name)
  fixture_tags.py reserial FILE N   set the serial number of every Ogg page in
                                    FILE to N (speexenc picks a random one)
  fixture_tags.py check DIR         read every fixture in DIR back, print what
                                    it carries and fail if a value differs

FIXTURES is the one place the tag values live; tests/fixtures/README.md lists
the same values for the tests.
"""

import os
import struct
import subprocess
import sys

import mutagen
from mutagen.aiff import AIFF
from mutagen.apev2 import APEv2
from mutagen.asf import ASF, ASFDWordAttribute
from mutagen.flac import FLAC
from mutagen.id3 import COMM, TALB, TCON, TDRC, TIT2, TPE1, TRCK
from mutagen.mp4 import MP4
from mutagen.ogg import OggPage

LATIN = "Café Müller – Déjà vu"
CJK = "東京の夜"
ASTRAL = "🎵 Clef 𝄞"  # both symbols lie outside the BMP

# Every tagged fixture: the tag layout used and the values it carries.
FIXTURES = {
    "id3v2.mp3": dict(
        kind="id3v2", title=LATIN, artist=CJK + " Trio", album=ASTRAL + " Sessions",
        comment="MP3 ID3v2 fixture comment", genre="Jazz", year=2001, track=1),
    "id3v1.mp3": dict(
        kind="id3v1", title="ID3v1 Title", artist="ID3v1 Artist", album="ID3v1 Album",
        comment="MP3 ID3v1 comment", genre="Rock", year=1999, track=2),
    "tagged.flac": dict(
        kind="xiph", title=CJK, artist=ASTRAL + " Quartet", album=LATIN + " (FLAC)",
        comment="FLAC fixture comment", genre="Classical", year=2002, track=3),
    "tagged.ogg": dict(
        kind="xiph", title=ASTRAL, artist=LATIN + " Band", album=CJK + " (Vorbis)",
        comment="Vorbis fixture comment", genre="Ambient", year=2003, track=4),
    "oggflac.oga": dict(
        kind="xiph", title="Ogg FLAC Title", artist="Ogg FLAC Artist", album="Ogg FLAC Album",
        comment="Ogg FLAC fixture comment", genre="Folk", year=2004, track=5),
    "tagged.spx": dict(
        kind="xiph", title="Speex Title", artist="Speex Artist", album="Speex Album",
        comment="Speex fixture comment", genre="Speech", year=2005, track=6),
    "tagged.opus": dict(
        kind="xiph", title="Opus Title", artist="Opus Artist", album="Opus Album",
        comment="Opus fixture comment", genre="Electronic", year=2006, track=7),
    "tagged.m4a": dict(
        kind="mp4", title=LATIN + " (M4A)", artist=CJK + " Orchestra", album=ASTRAL + " (M4A)",
        comment="M4A fixture comment", genre="Pop", year=2007, track=8),
    "tagged.wma": dict(
        kind="asf", title=CJK + " (WMA)", artist=LATIN + " Choir", album=ASTRAL + " (WMA)",
        comment="WMA fixture comment", genre="Blues", year=2008, track=9,
        copyright="© 2008 Fixture Records", rating="PG-13"),
    "tagged.wav": dict(
        kind="id3v2", title="WAV Title", artist="WAV Artist", album="WAV Album",
        comment="WAV fixture comment", genre="Country", year=2009, track=10),
    "tagged.aiff": dict(
        kind="id3v2", title="AIFF Title", artist="AIFF Artist", album="AIFF Album",
        comment="AIFF fixture comment", genre="Reggae", year=2010, track=11),
    "tagged.wv": dict(
        kind="ape", title="WavPack Title", artist="WavPack Artist", album="WavPack Album",
        comment="WavPack fixture comment", genre="Metal", year=2011, track=12),
    "tagged.tta": dict(
        kind="id3v2", title="TrueAudio Title", artist="TrueAudio Artist",
        album="TrueAudio Album", comment="TrueAudio fixture comment", genre="Funk",
        year=2012, track=13),
    "tagged.mpc": dict(
        kind="ape", title="Musepack Title", artist="Musepack Artist", album="Musepack Album",
        comment="Musepack fixture comment", genre="Soundtrack", year=2013, track=14),
}

# The fixtures that must not open as audio, and the untagged MP3.
OTHERS = ["notags.mp3", "not-audio.mp3", "truncated.flac", "empty.mp3", "unknown.xyz"]

# Index of a few genres in the ID3v1 genre list.
ID3V1_GENRES = {"Blues": 0, "Country": 2, "Jazz": 8, "Pop": 13, "Rock": 17}


def fail(msg):
    sys.stderr.write("fixture_tags.py: %s\n" % msg)
    sys.exit(1)


# ----------------------------------------------------------------- writing ---

def write_id3v2(path, v):
    f = mutagen.File(path)
    if f is None:
        fail("%s: mutagen does not recognise the file" % path)
    if f.tags is None:
        f.add_tags()
    t = f.tags
    t.clear()
    t.add(TIT2(encoding=3, text=v["title"]))
    t.add(TPE1(encoding=3, text=v["artist"]))
    t.add(TALB(encoding=3, text=v["album"]))
    t.add(COMM(encoding=3, lang="eng", desc="", text=v["comment"]))
    t.add(TCON(encoding=3, text=v["genre"]))
    t.add(TDRC(encoding=3, text=str(v["year"])))
    t.add(TRCK(encoding=3, text=str(v["track"])))
    # ID3v2.4, UTF-8 text, no ID3v1 block (AIFF's "ID3 " chunk has no such option).
    if isinstance(f, AIFF):
        f.save(v2_version=4)
    else:
        f.save(v1=0, v2_version=4)


def _latin1_field(text, size):
    data = text.encode("latin-1")
    if len(data) > size:
        fail("ID3v1 field too long: %r" % text)
    return data.ljust(size, b"\0")


def write_id3v1(path, v):
    """Appends a 128-byte ID3v1.1 block (the MP3 must not have one yet)."""
    with open(path, "rb") as fh:
        fh.seek(0, os.SEEK_END)
        if fh.tell() >= 128:
            fh.seek(-128, os.SEEK_END)
            if fh.read(3) == b"TAG":
                fail("%s already has an ID3v1 tag" % path)
    block = (b"TAG"
             + _latin1_field(v["title"], 30)
             + _latin1_field(v["artist"], 30)
             + _latin1_field(v["album"], 30)
             + _latin1_field(str(v["year"]), 4)
             + _latin1_field(v["comment"], 28)
             + b"\0" + struct.pack("B", v["track"])
             + struct.pack("B", ID3V1_GENRES[v["genre"]]))
    assert len(block) == 128
    with open(path, "ab") as fh:
        fh.write(block)


def write_xiph(path, v):
    f = mutagen.File(path)
    if f is None:
        fail("%s: mutagen does not recognise the file" % path)
    if f.tags is None:
        f.add_tags()
    f.tags.clear()  # drops ENCODER=... and the like; the vendor string stays
    f.tags["TITLE"] = v["title"]
    f.tags["ARTIST"] = v["artist"]
    f.tags["ALBUM"] = v["album"]
    f.tags["COMMENT"] = v["comment"]
    f.tags["GENRE"] = v["genre"]
    f.tags["DATE"] = str(v["year"])
    f.tags["TRACKNUMBER"] = str(v["track"])
    if isinstance(f, FLAC):
        f.save(padding=lambda info: 512)
    else:
        f.save()


def write_mp4(path, v):
    f = MP4(path)
    if f.tags is None:
        f.add_tags()
    f.tags.clear()
    f.tags["\xa9nam"] = [v["title"]]
    f.tags["\xa9ART"] = [v["artist"]]
    f.tags["\xa9alb"] = [v["album"]]
    f.tags["\xa9cmt"] = [v["comment"]]
    f.tags["\xa9gen"] = [v["genre"]]
    f.tags["\xa9day"] = [str(v["year"])]
    f.tags["trkn"] = [(v["track"], 0)]
    f.save(padding=lambda info: 256)


def write_asf(path, v):
    f = ASF(path)
    f.tags.clear()
    # Content description object: title, author, copyright, description, rating.
    f.tags["Title"] = v["title"]
    f.tags["Author"] = v["artist"]
    f.tags["Copyright"] = v["copyright"]
    f.tags["Description"] = v["comment"]
    f.tags["Rating"] = v["rating"]
    # Extended content description object.
    f.tags["WM/AlbumTitle"] = v["album"]
    f.tags["WM/Genre"] = v["genre"]
    f.tags["WM/Year"] = str(v["year"])
    f.tags["WM/TrackNumber"] = [ASFDWordAttribute(v["track"])]
    f.save()


def write_ape(path, v):
    try:
        t = APEv2(path)
    except mutagen.apev2.APENoHeaderError:
        t = APEv2()
    t.clear()
    t["Title"] = v["title"]
    t["Artist"] = v["artist"]
    t["Album"] = v["album"]
    t["Comment"] = v["comment"]
    t["Genre"] = v["genre"]
    t["Year"] = str(v["year"])
    t["Track"] = str(v["track"])
    t.save(path)


WRITERS = {
    "id3v2": write_id3v2, "id3v1": write_id3v1, "xiph": write_xiph,
    "mp4": write_mp4, "asf": write_asf, "ape": write_ape,
}


def cmd_tag(path):
    name = os.path.basename(path)
    if name not in FIXTURES:
        fail("no tag values for %s" % name)
    v = FIXTURES[name]
    WRITERS[v["kind"]](path, v)


def cmd_reserial(path, serial):
    pages = []
    with open(path, "rb") as fh:
        while True:
            try:
                pages.append(OggPage(fh))
            except EOFError:
                break
    if not pages:
        fail("%s: no Ogg pages" % path)
    data = []
    for page in pages:
        page.serial = serial
        data.append(page.write())  # write() recomputes the page CRC
    with open(path, "wb") as fh:
        fh.write(b"".join(data))


# ----------------------------------------------------------------- reading ---

def _first(values):
    if not values:
        return None
    return str(values[0])


def read_id3v1(path):
    with open(path, "rb") as fh:
        fh.seek(-128, os.SEEK_END)
        block = fh.read(128)
    if block[:3] != b"TAG":
        return None

    def field(a, b):
        return block[a:b].split(b"\0")[0].decode("latin-1").rstrip(" ")

    genre_index = block[127]
    genre = {i: g for g, i in ID3V1_GENRES.items()}.get(genre_index, str(genre_index))
    return dict(title=field(3, 33), artist=field(33, 63), album=field(63, 93),
                year=int(field(93, 97)), comment=field(97, 125),
                track=block[126] if block[125] == 0 else None, genre=genre)


def read_tags(path, kind):
    """Returns the common fields as mutagen reads them."""
    f = mutagen.File(path)
    t = f.tags if f is not None else None
    if kind == "id3v1":
        # ID3v1 is read by hand: mutagen folds it into an ID3v2 view.
        r = read_id3v1(path)
        with open(path, "rb") as fh:
            r["has_id3v2"] = fh.read(3) == b"ID3"
        return f, r
    if t is None:
        return f, None
    if kind == "id3v2":
        comm = [fr for fr in t.getall("COMM") if fr.desc == ""]
        return f, dict(
            title=_first(t.getall("TIT2")[0].text) if t.getall("TIT2") else None,
            artist=_first(t.getall("TPE1")[0].text) if t.getall("TPE1") else None,
            album=_first(t.getall("TALB")[0].text) if t.getall("TALB") else None,
            comment=_first(comm[0].text) if comm else None,
            genre=_first(t.getall("TCON")[0].genres) if t.getall("TCON") else None,
            year=int(str(t.getall("TDRC")[0].text[0])) if t.getall("TDRC") else None,
            track=int(str(t.getall("TRCK")[0].text[0])) if t.getall("TRCK") else None,
            version="2.%d.%d" % t.version[1:])
    if kind == "xiph":
        def g(k):
            return _first(t.get(k))
        return f, dict(title=g("TITLE"), artist=g("ARTIST"), album=g("ALBUM"),
                       comment=g("COMMENT"), genre=g("GENRE"),
                       year=int(g("DATE")), track=int(g("TRACKNUMBER")),
                       vendor=t.vendor)
    if kind == "mp4":
        return f, dict(title=_first(t.get("\xa9nam")), artist=_first(t.get("\xa9ART")),
                       album=_first(t.get("\xa9alb")), comment=_first(t.get("\xa9cmt")),
                       genre=_first(t.get("\xa9gen")), year=int(_first(t.get("\xa9day"))),
                       track=t["trkn"][0][0])
    if kind == "asf":
        track = t.get("WM/TrackNumber")[0]
        return f, dict(title=_first(t.get("Title")), artist=_first(t.get("Author")),
                       album=_first(t.get("WM/AlbumTitle")),
                       comment=_first(t.get("Description")),
                       genre=_first(t.get("WM/Genre")), year=int(_first(t.get("WM/Year"))),
                       track=track.value, track_type=type(track).__name__,
                       copyright=_first(t.get("Copyright")), rating=_first(t.get("Rating")))
    if kind == "ape":
        def g(k):
            return str(t[k]) if k in t else None
        return f, dict(title=g("Title"), artist=g("Artist"), album=g("Album"),
                       comment=g("Comment"), genre=g("Genre"),
                       year=int(g("Year")), track=int(g("Track")))
    raise ValueError(kind)


def probe(path):
    """codec, sample rate and channels as ffprobe sees the stream."""
    try:
        out = subprocess.run(
            ["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
             "stream=codec_name,sample_rate,channels", "-of", "default=nw=1:nk=1", path],
            capture_output=True, text=True, check=True).stdout.split()
        return "ffprobe: %s %s Hz %s ch" % tuple(out[:3])
    except (OSError, subprocess.CalledProcessError, TypeError):
        return "ffprobe: -"


def describe_audio(f, path):
    info = f.info
    rate = getattr(info, "sample_rate", None)
    parts = ["%s" % type(f).__name__, "%.3f s" % info.length]
    if rate:
        parts.append("%d Hz" % rate)
    channels = getattr(info, "channels", None)
    if channels is not None:
        parts.append("%d ch" % int(channels))  # mutagen gives WavPack mono as True
    return ", ".join(parts) + " (%s)" % probe(path)


def cmd_check(directory):
    problems = []
    total = 0
    print("%-15s %7s  %s" % ("file", "bytes", "contents"))
    for name in sorted(list(FIXTURES) + OTHERS):
        path = os.path.join(directory, name)
        if not os.path.exists(path):
            print("%-15s %7s  (not made)" % (name, "-"))
            continue
        size = os.path.getsize(path)
        total += size
        if name not in FIXTURES:
            try:
                f = mutagen.File(path)
            except Exception as e:  # the broken fixtures are meant to fail
                f = "error: %s" % type(e).__name__
            if isinstance(f, str) or f is None:
                what = f or "not recognised"
            else:
                what = describe_audio(f, path) + ", tags: %s" % (
                    "none" if not f.tags else sorted(f.tags.keys()))
                if name == "notags.mp3" and f.tags:
                    problems.append("notags.mp3 has tags")
            print("%-15s %7d  %s" % (name, size, what))
            continue
        want = FIXTURES[name]
        f, got = read_tags(path, want["kind"])
        print("%-15s %7d  %s" % (name, size, describe_audio(f, path) if f else "not recognised"))
        if got is None:
            problems.append("%s: no tags read back" % name)
            continue
        for key in sorted(got):
            print("%-15s %7s    %s = %r" % ("", "", key, got[key]))
        for key in ("title", "artist", "album", "comment", "genre", "year", "track",
                    "copyright", "rating"):
            if key in want and got.get(key) != want[key]:
                problems.append("%s: %s is %r, expected %r" % (name, key, got.get(key), want[key]))
        if want["kind"] == "id3v1" and got.get("has_id3v2"):
            problems.append("id3v1.mp3 carries an ID3v2 tag")
    print("%-15s %7d  (all fixtures)" % ("total", total))
    if problems:
        for p in problems:
            sys.stderr.write("MISMATCH: %s\n" % p)
        sys.exit(1)
    print("all tag values read back as expected")


def main(argv):
    if len(argv) == 3 and argv[1] == "tag":
        cmd_tag(argv[2])
    elif len(argv) == 4 and argv[1] == "reserial":
        cmd_reserial(argv[2], int(argv[3]))
    elif len(argv) == 3 and argv[1] == "check":
        cmd_check(argv[2])
    else:
        sys.stderr.write(__doc__)
        sys.exit(2)


if __name__ == "__main__":
    main(sys.argv)
