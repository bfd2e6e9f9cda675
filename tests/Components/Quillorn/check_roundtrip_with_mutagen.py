#!/usr/bin/env python3
"""Reads the files the round-trip test wrote (scratch/roundtrip-*) with mutagen,
a reader independent of TagLib, and checks the values the test wrote; then checks
that the audio itself (frames, samples or packets) is byte for byte the fixture's."""
import os
import struct
import sys

import mutagen

EXPECTED = {
    'title': 'Caf\u00e9 M\u00fcller \u2013 D\u00e9j\u00e0 vu title',
    'artist': '\u6771\u4eac\u306e\u591c artist',
    'album': '\U0001F3B5 Clef \U0001D11E album',
    'comment': 'written comment',
    'genre': 'Jazz',
    'year': '1987',
    'track': '5',
}

ID3 = {'title': 'TIT2', 'artist': 'TPE1', 'album': 'TALB', 'genre': 'TCON', 'year': 'TDRC', 'track': 'TRCK'}
XIPH = {'title': 'title', 'artist': 'artist', 'album': 'album', 'comment': 'comment', 'genre': 'genre',
        'year': 'date', 'track': 'tracknumber'}
MP4 = {'title': '\xa9nam', 'artist': '\xa9ART', 'album': '\xa9alb', 'comment': '\xa9cmt', 'genre': '\xa9gen',
       'year': '\xa9day', 'track': 'trkn'}
ASF = {'title': 'Title', 'artist': 'Author', 'album': 'WM/AlbumTitle', 'comment': 'Description',
       'genre': 'WM/Genre', 'year': 'WM/Year', 'track': 'WM/TrackNumber'}
APE = {'title': 'Title', 'artist': 'Artist', 'album': 'Album', 'comment': 'Comment', 'genre': 'Genre',
       'year': 'Year', 'track': 'Track'}


def text(value):
    if isinstance(value, list):
        value = value[0]
    if isinstance(value, tuple):          # MP4 track (number, total)
        value = value[0]
    if hasattr(value, 'text'):            # ID3 frame
        value = value.text[0]
    if hasattr(value, 'value'):           # ASF attribute
        value = value.value
    return str(value)


def read(path):
    audio = mutagen.File(path)
    tags = audio.tags
    kind = type(tags).__name__
    values = {}
    if kind in ('ID3', '_IFFID3', '_WaveID3'):
        for field, frame in ID3.items():
            values[field] = text(tags[frame]) if frame in tags else None
        comments = tags.getall('COMM')
        values['comment'] = comments[0].text[0] if comments else None
    elif kind in ('VCFLACDict', 'OggVCommentDict', 'OggOpusVComment', 'OggSpeexVComment', 'OggFLACVComment',
                  'VComment'):
        for field, key in XIPH.items():
            values[field] = text(tags[key]) if key in tags else None
    elif kind == 'MP4Tags':
        for field, key in MP4.items():
            values[field] = text(tags[key]) if key in tags else None
    elif kind == 'ASFTags':
        for field, key in ASF.items():
            values[field] = text(tags[key]) if key in tags else None
    elif kind == 'APEv2':
        for field, key in APE.items():
            values[field] = str(tags[key]) if key in tags else None
    else:
        raise AssertionError(f'{path}: unexpected tag kind {kind}')
    return values


# --- the audio payload of each container, tags left out ---------------------------

def strip_id3_ape(data):
    """MPEG, TrueAudio, WavPack, Musepack: tags may lead (ID3v2) or trail (APE, ID3v1)."""
    if data[:3] == b'ID3':
        size = 0
        for byte in data[6:10]:
            size = (size << 7) | (byte & 0x7f)
        footer = 10 if data[5] & 0x10 else 0
        data = data[10 + size + footer:]
    if data[-128:-125] == b'TAG':
        data = data[:-128]
    if data[-32:-24] == b'APETAGEX':
        size, _, flags = struct.unpack_from('<III', data, len(data) - 20)
        data = data[:-(size + (32 if flags & 0x80000000 else 0))]
    return data


def flac_frames(data):
    offset = 4
    while True:
        header = data[offset]
        length = int.from_bytes(data[offset + 1:offset + 4], 'big')
        offset += 4 + length
        if header & 0x80:
            return data[offset:]


def riff_chunk(data, big_endian, name, form_size):
    order = '>' if big_endian else '<'
    offset = 12
    while offset + 8 <= len(data):
        tag = data[offset:offset + 4]
        size = struct.unpack_from(order + 'I', data, offset + 4)[0]
        if tag == name:
            return data[offset + 8:offset + 8 + size]
        offset += 8 + size + (size & 1)
    raise AssertionError(f'no {name} chunk')


def mp4_box(data, name):
    offset = 0
    while offset + 8 <= len(data):
        size, tag = struct.unpack_from('>I4s', data, offset)
        if size == 1:
            size = struct.unpack_from('>Q', data, offset + 8)[0]
        if tag == name:
            return data[offset:offset + size]
        offset += size
    raise AssertionError(f'no {name} box')


ASF_DATA = bytes.fromhex('3626b2758e66cf11a6d900aa0062ce6c')


def asf_data(data):
    offset = 30
    while offset + 24 <= len(data):
        guid = data[offset:offset + 16]
        size = struct.unpack_from('<Q', data, offset + 16)[0]
        if guid == ASF_DATA:
            return data[offset:offset + size]
        offset += size
    raise AssertionError('no ASF data object')


def ogg_packets(data):
    packets, current, offset = [], b'', 0
    while offset < len(data):
        assert data[offset:offset + 4] == b'OggS', 'lost page sync'
        segments = data[offset + 26]
        table = data[offset + 27:offset + 27 + segments]
        body = offset + 27 + segments
        for lace in table:
            current += data[body:body + lace]
            body += lace
            if lace < 255:
                packets.append(current)
                current = b''
        offset = body
    return packets


def is_comment_packet(index, packet):
    return (packet.startswith(b'\x03vorbis') or packet.startswith(b'OpusTags')
            or (index > 0 and packet[:1] and packet[0] & 0x7f == 4 and not packet.startswith(b'\x7fFLAC'))
            or (index == 1 and packet[:8] != b'Speex   ' and not packet.startswith((b'\x05vorbis', b'\xff'))))


def ogg_audio(data):
    packets = ogg_packets(data)
    return [p for i, p in enumerate(packets) if not is_comment_packet(i, p)]


def audio(name, data):
    extension = name.rsplit('.', 1)[1]
    if extension in ('mp3', 'tta', 'wv', 'mpc'):
        return strip_id3_ape(data)
    if extension == 'flac':
        return flac_frames(data)
    if extension == 'wav':
        return riff_chunk(data, False, b'data', 0)
    if extension == 'aiff':
        return riff_chunk(data, True, b'SSND', 0)
    if extension == 'm4a':
        return mp4_box(data, b'mdat')
    if extension == 'wma':
        return asf_data(data)
    return ogg_audio(data)


def main(folder):
    files = sorted(f for f in os.listdir(folder) if f.startswith('roundtrip-'))
    if not files:
        print('no round-trip files found')
        return 1
    failures = 0
    for name in files:
        values = read(os.path.join(folder, name))
        for field, expected in EXPECTED.items():
            if values.get(field) != expected:
                failures += 1
                print(f'FAIL {name}: {field} = {values.get(field)!r}, expected {expected!r}')
    fixtures = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'fixtures')
    for name in files:
        original = open(os.path.join(fixtures, name[len('roundtrip-'):]), 'rb').read()
        written = open(os.path.join(folder, name), 'rb').read()
        before, after = audio(name, original), audio(name, written)
        if not before or before != after:
            failures += 1
            print(f'FAIL {name}: the audio payload changed')
    print(f'mutagen read {len(files)} files, {failures} mismatches in tags and audio')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
