#!/usr/bin/env python3
"""Reads the files the round-trip test wrote (scratch/roundtrip-*) with mutagen,
a reader independent of TagLib, and checks the values the test wrote."""
import os
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
    print(f'mutagen read {len(files)} files, {failures} mismatches')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1]))
