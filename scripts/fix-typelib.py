#!/usr/bin/env python3
"""Mends two defects that widl 7/8 write into a type library whose library
block declares a dispinterface before dual interfaces based on stdole2's
IDispatch:

- a second import entry for IDispatch is written with no GUID (offset -1), so
  the dual interfaces' base resolves to an unrelated stdole2 type;
- the reference to that entry (0x0d) lands on the last byte of the library's
  own GUID.

Usage: fix-typelib.py IN.tlb OUT.tlb LIBID
The result is checked by loading it back in the type-library test.
"""
import struct
import sys
import uuid

SEGMENTS = ['TypeInfoTab', 'ImpInfo', 'ImpFiles', 'RefTab', 'GuidHashTab', 'GuidTab', 'NameHashTab',
            'NameTab', 'StringTab', 'TypdescTab', 'ArrayDesc', 'CustData', 'CDGuids', 'res0e', 'res0f']
HEADER_SIZE = 0x54
GUID_ENTRY_SIZE = 24          # GUID, hreftype, next hash
IMPINFO_SIZE = 12             # flags, import file offset, GUID offset
IMPINFO_GUID_IS_OFFSET = 0x10000


def segments(data):
    (_magic, _magic2, _posguid, _lcid, _lcid2, varflags, _version, _flags, typeinfos) = \
        struct.unpack_from('<4sI7i', data, 0)
    directory = HEADER_SIZE + 4 * typeinfos + (4 if varflags & 0x100 else 0)
    return {name: struct.unpack_from('<ii', data, directory + 16 * i) for i, name in enumerate(SEGMENTS)}


def mend_imports(data, segs):
    offset, length = segs['ImpInfo']
    previous = None
    for entry in range(offset, offset + length, IMPINFO_SIZE):
        flags, impfile, guid = struct.unpack_from('<iii', data, entry)
        if guid == -1 and previous and flags & IMPINFO_GUID_IS_OFFSET \
                and (flags >> 24) == (previous[0] >> 24) and impfile == previous[1]:
            struct.pack_into('<i', data, entry + 8, previous[2])
            guid = previous[2]
        previous = (flags, impfile, guid)


def mend_library_guid(data, segs, libid):
    posguid = struct.unpack_from('<i', data, 8)[0]
    offset, _ = segs['GuidTab']
    data[offset + posguid:offset + posguid + 16] = uuid.UUID(libid).bytes_le


def main():
    source, target, libid = sys.argv[1:4]
    data = bytearray(open(source, 'rb').read())
    if data[:4] != b'MSFT':
        sys.exit(f'{source}: not an MSFT type library')
    segs = segments(data)
    mend_imports(data, segs)
    mend_library_guid(data, segs, libid)
    open(target, 'wb').write(data)


if __name__ == '__main__':
    main()
