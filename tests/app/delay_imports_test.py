#!/usr/bin/env python3
"""The executable's delay-import directory, read back from its headers: objdump shows the data directory entry,
and the descriptors it points at name msi.dll and userenv.dll, each with its import tables inside the image."""
import re
import struct
import subprocess
import sys

DESCRIPTOR_SIZE = 32


def main(executable, objdump):
    failures = []
    headers = subprocess.run([objdump, "-p", executable], check=True, capture_output=True, text=True).stdout
    entry = re.search(r"^Entry d ([0-9a-f]+) ([0-9a-f]+) Delay Import Directory$", headers, re.M)
    if not entry or int(entry.group(1), 16) == 0:
        sys.exit("FAILED: objdump shows no delay-import directory")
    directory_rva, directory_size = int(entry.group(1), 16), int(entry.group(2), 16)

    with open(executable, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections_count, = struct.unpack_from("<H", image, pe + 6)
    optional_size, = struct.unpack_from("<H", image, pe + 20)
    image_size, = struct.unpack_from("<I", image, pe + 24 + 56)
    sections = [struct.unpack_from("<IIII", image, pe + 24 + optional_size + 40 * i + 8) for i in range(sections_count)]

    def read(rva, size, to_section_end=False):
        for virtual_size, address, raw_size, raw_offset in sections:
            if address <= rva < address + raw_size:
                if to_section_end:
                    size = min(size, address + raw_size - rva)
                if rva + size <= address + raw_size:
                    return image[raw_offset + rva - address:raw_offset + rva - address + size]
        failures.append(f"RVA {rva:#x} is not in the image's data")
        return b"\0" * size

    def string(rva):
        # A name may end close to its section's end: read at most up to there.
        data = read(rva, 64, to_section_end=True)
        return data[:data.index(b"\0")].decode("ascii") if b"\0" in data else ""

    names = []
    for index in range(directory_size // DESCRIPTOR_SIZE):
        fields = struct.unpack("<8I", read(directory_rva + index * DESCRIPTOR_SIZE, DESCRIPTOR_SIZE))
        if not any(fields):
            if index != directory_size // DESCRIPTOR_SIZE - 1:
                failures.append(f"the zero entry at {index} is not the table's last")
            break
        attributes, name, module, iat, int_ = fields[:5]
        names.append(string(name).lower())
        if attributes != 1:
            failures.append(f"{names[-1]}: attributes {attributes}, not RVA-based")
        for what, rva in (("module handle", module), ("address table", iat), ("name table", int_)):
            if not 0 < rva < image_size:
                failures.append(f"{names[-1]}: {what} at {rva:#x} is outside the image")
    else:
        failures.append("the table has no zero entry")
    if sorted(names) != ["msi.dll", "userenv.dll"]:
        failures.append(f"delay-loaded libraries are {names}, not msi.dll and userenv.dll")
    # Neither may be an ordinary import as well.
    for dll in re.findall(r"^\s*DLL Name: (\S+)$", headers, re.M):
        if dll.lower() in ("msi.dll", "userenv.dll"):
            failures.append(f"{dll} is also an ordinary import")
    for failure in failures:
        print("FAILED:", failure)
    if failures:
        sys.exit(1)
    print("delay imports:", ", ".join(names))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
