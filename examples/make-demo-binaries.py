#!/usr/bin/env python3
"""Writes the binary files of the demo machine: small 32-bit PE images that
carry a version resource, virtual device drivers (LE images) carrying one as
Windows 98 reads it, and one virtual device driver without one.

    make-demo-binaries.py [--check] [MACHINE_DIR]

MACHINE_DIR defaults to examples/demo-machine beside this script. With
--check nothing is written; the exit status says whether the files on disk
are exactly what this script would write.
"""
import pathlib
import struct
import sys

FILE_ALIGNMENT = 0x200
SECTION_ALIGNMENT = 0x1000
RSRC_RVA = 0x1000
RT_VERSION = 16
LANG_EN_US = 0x409

# Windows path below drive C -> (image format, (file version, product
# version) or None for a driver without a version resource).
BINARIES = {
    r"WINDOWS\SYSTEM\USBFDD.SYS": ("pe", ((1, 0, 2, 5), (1, 0, 0, 0))),
    r"WINDOWS\SYSTEM32\DRIVERS\USBFDD.SYS": ("pe", ((1, 0, 2, 5), (1, 0, 0, 0))),
    r"WINDOWS\SYSTEM\IOSUBSYS\USBFDVXD.PDR": ("le", ((1, 0, 0, 3), (1, 0, 0, 0))),
    r"WINDOWS\SYSTEM\IOSUBSYS\USBFDVSD.VXD": ("le", ((1, 0, 0, 7), (1, 0, 0, 0))),
    r"WINDOWS\SYSTEM\IOSUBSYS\KMNFD.VXD": ("le", None),
    r"WINDOWS\SYSTEM\IOSUBSYS\HSFLOP.PDR": ("le", ((4, 10, 0, 2222), (4, 10, 0, 2222))),
}
# The LE header: its size with the Windows fields, and where they stand.
LE_HEADER_SIZE = 0xC4
LE_RESOURCE_OFFSET_FIELD = 0xB8


def align(value, boundary):
    return (value + boundary - 1) // boundary * boundary


def version_words(version):
    a, b, c, d = version
    return (a << 16) | b, (c << 16) | d


def fixed_file_info(file_version, product_version, file_os, file_type, subtype):
    return struct.pack(
        "<13I",
        0xFEEF04BD,  # signature
        0x00010000,  # structure version
        *version_words(file_version),
        *version_words(product_version),
        0x3F,  # flags mask
        0,  # flags
        file_os,
        file_type,
        subtype,
        0,
        0,
    )


def version_info(file_version, product_version):
    """VS_VERSIONINFO holding only its VS_FIXEDFILEINFO."""
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    # VOS_NT_WINDOWS32, VFT_DRV, VFT2_DRV_SYSTEM
    fixed = fixed_file_info(file_version, product_version, 0x00040004, 3, 7)
    header_length = 6 + len(key)
    padding = align(header_length, 4) - header_length
    length = header_length + padding + len(fixed)
    return struct.pack("<3H", length, len(fixed), 0) + key + b"\0" * padding + fixed


def version_info_16(file_version, product_version):
    """The 16-bit VS_VERSIONINFO of NE and LE images: a single-byte key, no type."""
    key = b"VS_VERSION_INFO\0"
    # VOS_DOS_WINDOWS32, VFT_VXD
    fixed = fixed_file_info(file_version, product_version, 0x00010004, 5, 0)
    header_length = 4 + len(key)
    padding = align(header_length, 4) - header_length
    length = header_length + padding + len(fixed)
    return struct.pack("<2H", length, len(fixed)) + key + b"\0" * padding + fixed


def resource_section(data):
    """Resource tree type RT_VERSION -> ID 1 -> language, then the data."""

    def directory(entry_id, offset):
        return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1) + struct.pack("<II", entry_id, offset)

    subdirectory = 0x80000000
    tree = directory(RT_VERSION, subdirectory | 24)
    tree += directory(1, subdirectory | 48)
    tree += directory(LANG_EN_US, 72)
    data_offset = 88
    tree += struct.pack("<IIII", RSRC_RVA + data_offset, len(data), 0, 0)
    return tree + data


def pe_image(file_version, product_version):
    rsrc = resource_section(version_info(file_version, product_version))
    raw_size = align(len(rsrc), FILE_ALIGNMENT)
    dos = b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x40)
    coff = struct.pack("<HHIIIHH", 0x14C, 1, 0x36DC8E00, 0, 0, 0xE0, 0x0102)
    optional = struct.pack(
        "<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII",
        0x10B, 6, 0,  # PE32, linker 6.0
        0, raw_size, 0,  # code, initialized data, uninitialized data
        0, RSRC_RVA, RSRC_RVA,  # entry point, base of code, base of data
        0x10000, SECTION_ALIGNMENT, FILE_ALIGNMENT,
        4, 0, 1, 0, 4, 0,  # OS, image and subsystem versions
        0,  # Win32VersionValue
        RSRC_RVA + align(len(rsrc), SECTION_ALIGNMENT),  # SizeOfImage
        FILE_ALIGNMENT,  # SizeOfHeaders
        0,  # CheckSum
        1, 0,  # native subsystem, DLL characteristics
        0x40000, 0x1000, 0x100000, 0x1000,  # stack and heap
        0, 16,  # loader flags, data directories
    )
    directories = [(0, 0)] * 16
    directories[2] = (RSRC_RVA, len(rsrc))
    optional += b"".join(struct.pack("<II", *d) for d in directories)
    section = struct.pack(
        "<8sIIIIIIHHI", b".rsrc", len(rsrc), RSRC_RVA, raw_size, FILE_ALIGNMENT, 0, 0, 0, 0,
        0x40000040)
    headers = dos + b"PE\0\0" + coff + optional + section
    headers += b"\0" * (FILE_ALIGNMENT - len(headers))
    return headers + rsrc + b"\0" * (raw_size - len(rsrc))


def le_image(versions):
    """A VxD: an MZ stub leading to an LE header, whose Windows fields name
    the version resource (0xFF, RT_VERSION, 0xFF, ordinal 1, flags, size)."""
    dos = b"MZ" + b"\0" * 0x3A + struct.pack("<I", 0x80)
    dos += b"\0" * (0x80 - len(dos))
    header = bytearray(b"LE\0\0" + struct.pack("<IHH", 0, 2, 4))  # level, 80386, Windows 386
    header += b"\0" * (LE_HEADER_SIZE - len(header))
    if versions is None:
        return dos + bytes(header)
    data = version_info_16(*versions)
    resource = b"\xff" + struct.pack("<H", RT_VERSION) + b"\xff" + struct.pack(
        "<HHI", 1, 0x30, len(data)) + data
    struct.pack_into("<II", header, LE_RESOURCE_OFFSET_FIELD, len(dos) + LE_HEADER_SIZE,
                     len(resource))
    return dos + bytes(header) + resource


def contents(kind, versions):
    return le_image(versions) if kind == "le" else pe_image(*versions)


def main(args):
    check = "--check" in args
    rest = [a for a in args if a != "--check"]
    machine = pathlib.Path(rest[0]) if rest else pathlib.Path(__file__).parent / "demo-machine"
    stale = []
    for windows_path, (kind, versions) in BINARIES.items():
        target = machine / "drive_c" / pathlib.PurePosixPath(*windows_path.split("\\"))
        data = contents(kind, versions)
        if check:
            if not target.is_file() or target.read_bytes() != data:
                stale.append(str(target))
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        if target.exists():
            target.chmod(0o644)
        target.write_bytes(data)
    for path in stale:
        print(f"differs from the generator: {path}", file=sys.stderr)
    return 1 if stale else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
