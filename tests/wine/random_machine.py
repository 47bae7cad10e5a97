"""Random machine folders around the drive's own names.

write_machine(seed, folder) writes registry.reg, machine.ini and drive_c/ of
an NT machine whose registry and files mix the drive's registrations with odd
spellings of them and with other devices' keys: device keys that do or do not
carry the device name prefix, "Driver" values that name class keys in other
letter case, missing ones or the "fdc" key itself, "InfSection" and "InfPath"
values spelt every way (letter case, a trailing dot or blank), non-ASCII
names, setup catalogue values of every type,
and the driver files and INF copies present or not, read-only or hidden. The
same seed always gives the same folder. No name holds a "~", so that no path
is taken for an 8.3 short name: Wine makes other short names than Windows.
"""

import os
import random

CLASS_ROOT = "System\\CurrentControlSet\\Services\\Class"
SETUPX = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX"
CATALOGUED = ("C:\\WINDOWS\\INF\\KMNUFD1.INF", "C:\\WINDOWS\\INF\\KMNUFD2.INF",
              "C:\\WINDOWS\\INF\\OTHER\\KELMORINKMNUFD1.INF",
              "C:\\WINDOWS\\INF\\OTHER\\KELMORINKMNUFD2.INF")
DRIVER_FILES = ("SYSTEM\\USBFDD.SYS", "SYSTEM32\\DRIVERS\\USBFDD.SYS",
                "SYSTEM\\IOSUBSYS\\USBFDVXD.PDR", "INF\\USBFD1.INF", "INF\\USBFD2.INF",
                "INF\\KMNUSBFD.INF", "SYSTEM\\IOSUBSYS\\USBFDVSD.VXD",
                "SYSTEM\\IOSUBSYS\\KMNFD.VXD", "INF\\KMNUFD1.INF", "INF\\KMNUFD2.INF",
                "INF\\CATALOG\\KMNUFD1.CAT", "INF\\CATALOG\\KMNUFD2.CAT",
                "INF\\OTHER\\KELMORINKMNUFD1.INF", "INF\\OTHER\\KELMORINKMNUFD2.INF")
DEVICE_NAMES = ("KELMORINUSB_FLOPPY_DISK_1.00", "KELMORINUSB_FLOPPY_DISK", "KELMORINUSB_FLOPPY_DISKÀ",
                "KELMORINUSB_FLOPPY_DIS", "kelmorinusb_floppy_disk_2.00",
                "GENERIC_NEC_FLOPPY_DISK_", "AAA_FIRST_DEVICE")
INSTANCE_NAMES = ("0000", "0001", "USB&VID_0D7C&PID_FFFF&0001", "5&1A2B3C4D&0&1", "À1", "Œ2",
                  "x")
CLASS_NAMES = ("fdc", "DiskDrive", "USB")
SUBKEY_NAMES = ("0000", "0001", "0002", "0003", "0010", "XÀ", "XŒ", "café")
INF_SECTIONS = ("KMNCRN.DEV", "kmncrn.dev", "KmnCrn.Dev", "KMNCRN.DEV ", "KMNCRN", "FLOPPY")
INF_FILES = ("OEM0.INF", "OEM1.INF", "OEM2.INF", "OEM3.INF", "KMNUFD1.INF", "ÀINF.INF")
# "InfPath" as it may be spelt: the files' names in other letter case, with
# the trailing dot or blank that Windows drops, or naming no file at all.
INF_PATHS = INF_FILES + ("oem2.inf", "àinf.inf", "OEM1.INF.", "OEM3.INF ", "OEM9.INF")
FILE_TIME = "1999-03-03T12:00:00Z"


def reg_quote(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


class Builder:
    """The machine as it is drawn: keys with their values, and files."""

    def __init__(self, rng):
        self.rng = rng
        self.keys = {}  # lower-case path -> (path, [(name, data text)])
        self.files = {}  # upper-case path below C:\WINDOWS -> attribute words

    def key(self, path):
        entry = self.keys.setdefault(path.lower(), (path, []))
        return entry[1]

    def string(self, path, name, value):
        self.key(path).append((name, reg_quote(value)))

    def maybe(self, chance):
        return self.rng.random() < chance

    def pick(self, choices):
        return self.rng.choice(choices)

    def add_file(self, path):
        words = [word for word in ("readonly", "hidden") if self.maybe(0.2)]
        self.files[path.upper()] = words

    def driver_value(self, class_keys):
        roll = self.rng.random()
        if roll < 0.6 and class_keys:
            value = self.pick(class_keys)
            return value.upper() if self.maybe(0.2) else value
        if roll < 0.7:
            return "fdc\\9999"
        if roll < 0.8:
            return "DiskDrive\\0000"
        return self.pick(("", "fdc", "fdc\\", "fdc\\0001\\"))

    def instances(self, parent, class_keys):
        for name in self.rng.sample(INSTANCE_NAMES, self.rng.randint(0, 3)):
            path = parent + "\\" + name
            self.key(path)
            if self.maybe(0.85):
                self.string(path, "Driver", self.driver_value(class_keys))

    def class_keys(self):
        keys = []
        for class_name in CLASS_NAMES:
            for name in self.rng.sample(SUBKEY_NAMES, self.rng.randint(0, 4)):
                path = "%s\\%s\\%s" % (CLASS_ROOT, class_name, name)
                self.key(path)
                if self.maybe(0.8):
                    self.string(path, "InfSection", self.pick(INF_SECTIONS))
                if self.maybe(0.8):
                    self.string(path, "InfPath", self.pick(INF_PATHS))
                keys.append("%s\\%s" % (class_name, name))
        return keys

    def enumeration(self, class_keys):
        for branch in ("Enum\\FLOP", "Enum\\ESDI"):
            for device in self.rng.sample(DEVICE_NAMES, self.rng.randint(0, 3)):
                self.instances(branch + "\\" + device, class_keys)
        for branch in ("Enum\\USB\\VID_0D7C&PID_FFFF", "Enum\\USB\\VID_0D7C&PID_0000",
                       "Enum\\USB\\VID_0D7C&PID_0001"):
            if self.maybe(0.7):
                self.key(branch)
                self.instances(branch, class_keys)

    def catalogue(self):
        for key in ("INF\\OEM Name", "Catalogs"):
            path = SETUPX + "\\" + key
            self.key(path)
            for name in CATALOGUED:
                roll = self.rng.random()
                if roll < 0.5:
                    target = self.pick(("C:\\WINDOWS\\CATROOT\\KMNUFD1.CAT", name,
                                        "C:\\WINDOWS\\INF\\OEM3.INF", "C:\\WINDOWS\\WIN.INI"))
                    self.string(path, name, target)
                elif roll < 0.6:
                    self.key(path).append((name, "hex:01,02"))

    def drive(self):
        for path in DRIVER_FILES:
            if self.maybe(0.5):
                self.add_file(path)
        for name in INF_FILES:
            for folder in ("INF", "INF\\OTHER"):
                if self.maybe(0.5):
                    self.add_file(folder + "\\" + name)
        for path in ("CATROOT\\KMNUFD1.CAT", "WIN.INI", "INF\\MSFDC.INF"):
            self.add_file(path)


def registry_text(builder):
    lines = ["REGEDIT4", ""]
    for path, values in builder.keys.values():
        lines.append("[HKEY_LOCAL_MACHINE\\%s]" % path)
        lines.extend("%s=%s" % (reg_quote(name), data) for name, data in values)
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


def write_machine(seed, folder):
    """Writes the machine of this seed into folder, which must not exist."""
    builder = Builder(random.Random(seed))
    builder.enumeration(builder.class_keys())
    builder.catalogue()
    builder.drive()
    os.makedirs(folder)
    with open(os.path.join(folder, "registry.reg"), "wb") as handle:
        handle.write(registry_text(builder).encode("cp1252"))
    ini = ["; Random machine %d" % seed, "[machine]", "windows = nt", "oem_code_page = 437",
           "ansi_code_page = 1252", "time_zone_bias_minutes = 0",
           # Wine's windows directory, as the box texts show it.
           "windows_directory = C:\\windows", "", "[files]"]
    for path, words in sorted(builder.files.items()):
        host = os.path.join(folder, "drive_c", "WINDOWS", *path.split("\\"))
        os.makedirs(os.path.dirname(host), exist_ok=True)
        with open(host, "w", encoding="utf-8") as handle:
            handle.write("%s of machine %d\r\n" % (os.path.basename(host), seed))
        ini.append("C:\\WINDOWS\\%s = %s" % (path, " ".join(words + [FILE_TIME])))
    with open(os.path.join(folder, "machine.ini"), "w", encoding="utf-8") as handle:
        handle.write("\n".join(ini) + "\n")
