# Writes a tiny PE32 image (headers and one section holding a ret) for the
# Authenticode test: osslsigncode signs it.
import struct, sys
dos = bytearray(64); dos[0:2] = b'MZ'; struct.pack_into('<I', dos, 0x3c, 64)
coff = struct.pack('<HHIIIHH', 0x14c, 1, 0, 0, 0, 224, 0x0102)
opt = bytearray(224)
for offset, fmt, value in ((0, '<H', 0x10b), (4, '<I', 0x200), (16, '<I', 0x1000), (20, '<I', 0x1000),
                           (28, '<I', 0x400000), (32, '<I', 0x1000), (36, '<I', 0x200), (40, '<H', 4),
                           (48, '<H', 4), (56, '<I', 0x2000), (60, '<I', 0x200), (68, '<H', 3),
                           (72, '<I', 0x100000), (76, '<I', 0x1000), (80, '<I', 0x100000), (84, '<I', 0x1000),
                           (92, '<I', 16)):
    struct.pack_into(fmt, opt, offset, value)
section = struct.pack('<8sIIIIIIHHI', b'.text', 0x200, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
headers = bytes(dos) + b'PE\0\0' + coff + bytes(opt) + section
headers += b'\0' * (0x200 - len(headers))
open(sys.argv[1], 'wb').write(headers + b'\xc3' + b'\0' * 0x1ff)
