# Turns xdelta3 output into the VCDiff form our decoder reads: the file
# header dropped, one of the two window lengths dropped, the source segment
# fields always present, no checksum, RUN bytes moved from the data section
# into the instructions section behind their opcode and size, and optional
# source window piece numbers (indicator bit 0x08). Also counts RUN
# instructions, target copies and overlapping target copies, so that tests
# can show which cases a delta covers.
#
#   xdelta_convert.py DELTA OUTPUT   converts a delta made by
#       xdelta3 -A -e -n -S none [-s SOURCE] TARGET DELTA
#   and prints the source segment position.
import os, subprocess, sys, tempfile

def table():
    t = [((2, 0, 0), (0, 0, 0))]
    t += [((1, s, 0), (0, 0, 0)) for s in range(18)]
    for m in range(9):
        t += [((3, 0, m), (0, 0, 0))] + [((3, s, m), (0, 0, 0)) for s in range(4, 19)]
    t += [((1, a, 0), (3, c, m)) for m in range(6) for a in range(1, 5) for c in range(4, 7)]
    t += [((1, a, 0), (3, 4, m)) for m in range(6, 9) for a in range(1, 5)]
    t += [((3, 4, m), (1, 1, 0)) for m in range(9)]
    assert len(t) == 256
    return t
TABLE = table()
def rd(b, p):
    v = 0
    while True:
        c = b[p]; p += 1; v = (v << 7) | (c & 127)
        if c < 128: return v, p
def enc(v):
    out = [v & 127]; v >>= 7
    while v: out.append(128 | (v & 127)); v >>= 7
    return bytes(reversed(out))
def convert(d, pieces):
    assert d[:4] == b'\xd6\xc3\xc4\x00'
    hi = d[4]; p = 5
    assert hi & 3 == 0
    if hi & 4:
        n, p = rd(d, p); p += n
    wi = d[p]; p += 1
    assert wi & 2 == 0
    ssize = spos = 0
    if wi & 1:
        ssize, p = rd(d, p); spos, p = rd(d, p)
    _, p = rd(d, p); tsize, p = rd(d, p)
    di, p = rd(d, p); assert di == 0
    ld, p = rd(d, p); li, p = rd(d, p); la, p = rd(d, p)
    if wi & 4: p += 4
    data = d[p:p + ld]; p += ld
    inst = d[p:p + li]; p += li
    addr = d[p:p + la]; p += la
    assert p == len(d), 'one window only'
    nd, ni = bytearray(), bytearray()
    dp = ip = ap = 0
    near, nxt, same = [0] * 4, 0, [0] * 768
    here = ssize
    runs = tcopies = overlaps = 0
    while ip < len(inst):
        op = inst[ip]; ip += 1; ni.append(op)
        for typ, size, mode in TABLE[op]:
            if typ == 0: continue
            if size == 0:
                s0 = ip; size, ip = rd(inst, ip); ni += inst[s0:ip]
            if typ == 1:
                nd += data[dp:dp + size]; dp += size
            elif typ == 2:
                ni.append(data[dp]); dp += 1; runs += 1
            else:
                if mode < 6:
                    v, ap = rd(addr, ap)
                    a = v if mode == 0 else here - v if mode == 1 else near[mode - 2] + v
                else:
                    a = same[(mode - 6) * 256 + addr[ap]]; ap += 1
                near[nxt] = a; nxt = (nxt + 1) % 4; same[a % 768] = a
                if a >= ssize:
                    tcopies += 1
                    if a + size > here: overlaps += 1
            here += size
    wind = 8 if pieces else 0
    out = bytes([wind]) + enc(ssize) + enc(spos) + enc(tsize) + enc(0)
    out += enc(len(nd)) + enc(len(ni)) + enc(len(addr))
    if pieces: out += enc(pieces[0]) + enc(pieces[1])
    return out + bytes(nd) + bytes(ni) + addr, spos, runs, tcopies, overlaps

def encode(source, target):
    """xdelta3's single-window delta of target against source (may be b'')."""
    with tempfile.TemporaryDirectory() as tmp:
        sp, tp, dp, op = (os.path.join(tmp, n) for n in 'stdo')
        open(sp, 'wb').write(source); open(tp, 'wb').write(target)
        args = ['-s', sp] if source else []
        subprocess.run(['xdelta3', '-A', '-e', '-f', '-n', '-S', 'none'] + args + [tp, dp], check=True)
        subprocess.run(['xdelta3', '-d', '-f'] + args + [dp, op], check=True)
        assert open(op, 'rb').read() == target
        return open(dp, 'rb').read()

if __name__ == '__main__':
    delta, spos, runs, tcopies, overlaps = convert(open(sys.argv[1], 'rb').read(), None)
    open(sys.argv[2], 'wb').write(delta)
    print(spos)
