#!/usr/bin/env python3
"""Points a PE32+ executable's delay-import data directory at its table of delay-load descriptors.

ld links dlltool's delay-load import data but leaves the directory empty, so the executable's delay imports are
invisible to the tools administrators inspect it with. The descriptors are found through their symbols
(__DELAY_IMPORT_DESCRIPTOR_*) in the COFF symbol table; they must form one table of 32-byte entries followed by a
zero entry, which is checked before anything is written. Safe to run again."""
import struct
import sys

DESCRIPTOR_SIZE = 32
DELAY_IMPORT_INDEX = 13
SYMBOL_PREFIX = b"__DELAY_IMPORT_DESCRIPTOR_"


def fail(message):
    sys.exit(f"delay_import_directory: {message}")


def main(path):
    with open(path, "rb") as f:
        image = bytearray(f.read())
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail(f"{path} is not a PE file")
    sections_count, = struct.unpack_from("<H", image, pe + 6)
    symbols_offset, symbols_count = struct.unpack_from("<II", image, pe + 12)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    optional = pe + 24
    if struct.unpack_from("<H", image, optional)[0] != 0x20B:
        fail("not a PE32+ image")
    if symbols_offset == 0:
        fail("the image has no symbol table (stripped before this step?)")
    directories = optional + 112
    checksum_offset = optional + 64

    sections = []
    for i in range(sections_count):
        header = pe + 24 + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", image, header + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_offset, raw_size))

    strings = symbols_offset + 18 * symbols_count
    descriptors = []
    index = 0
    while index < symbols_count:
        entry = symbols_offset + 18 * index
        raw_name = image[entry:entry + 8]
        value, section, _type, _storage, aux = struct.unpack_from("<IhHBB", image, entry + 8)
        if raw_name[:4] == b"\0\0\0\0":
            start = strings + struct.unpack_from("<I", raw_name, 4)[0]
            name = bytes(image[start:image.index(b"\0", start)])
        else:
            name = bytes(raw_name).rstrip(b"\0")
        if name.startswith(SYMBOL_PREFIX) and section > 0:
            descriptors.append(sections[section - 1][0] + value)
        index += 1 + aux
    if not descriptors:
        fail("no delay-load descriptors in the image")
    descriptors.sort()

    def offset_of(rva, size):
        for address, span, raw_offset, raw_size in sections:
            if address <= rva and rva + size <= address + min(span, raw_size):
                return raw_offset + rva - address
        fail(f"RVA {rva:#x} is outside the image's data")

    first = descriptors[0]
    for number, rva in enumerate(descriptors):
        if rva != first + number * DESCRIPTOR_SIZE:
            fail(f"the descriptors are not one table: {[hex(d) for d in descriptors]}")
        attributes, name_rva = struct.unpack_from("<II", image, offset_of(rva, DESCRIPTOR_SIZE))
        if attributes != 1 or name_rva == 0:
            fail(f"descriptor at {rva:#x} is not an RVA-based descriptor")
    end = first + len(descriptors) * DESCRIPTOR_SIZE
    end_offset = offset_of(end, DESCRIPTOR_SIZE)
    if any(image[end_offset:end_offset + DESCRIPTOR_SIZE]):
        fail(f"no zero entry after the descriptors at {end:#x}")

    struct.pack_into("<II", image, directories + 8 * DELAY_IMPORT_INDEX, first,
                     (len(descriptors) + 1) * DESCRIPTOR_SIZE)
    if struct.unpack_from("<I", image, checksum_offset)[0] != 0:
        struct.pack_into("<I", image, checksum_offset, pe_checksum(image, checksum_offset))
    with open(path, "r+b") as f:
        f.write(image)


def pe_checksum(image, checksum_offset):
    total = 0
    data = image + b"\0" * (len(image) % 2)
    for i in range(0, len(data), 2):
        if i == checksum_offset or i == checksum_offset + 2:
            continue
        total += data[i] | (data[i + 1] << 8)
        total = (total & 0xFFFF) + (total >> 16)
    return ((total & 0xFFFF) + (total >> 16)) + len(image)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: delay_import_directory.py EXECUTABLE")
    main(sys.argv[1])
