# Oracle of test_hashing.c: CPython's own hash() for ints and tuples; the
# runtime's string hashes written out from their definition.
M = (1 << 64) - 1
ints = [0, 1, -1, -2, 2, 7, -7, (1 << 61) - 2, (1 << 61) - 1, 1 << 61, (1 << 61) + 1,
        -((1 << 61) - 1), -(1 << 61), 1 << 62, (1 << 63) - 1, -(1 << 63), -(1 << 63) + 1,
        10**18, -10**18, 12345678901234567, (1 << 61) * 3 - 1]
out = []
for x in ints:
    out.append(hash(x))
out += [hash(True), hash(False)]
for x in ints:
    out.append(hash((x,)))
    for y in ints[::4]:
        out.append(hash((x, y)))
out.append(hash(((1, 2), True)))
out.append(hash(((-1, -2), False)))


def signed(h):
    return h - (1 << 64) if h >> 63 else h


def step(h, w):
    h = ((h ^ w) * 0xbf58476d1ce4e5b9) & M
    return h ^ (h >> 29)


def mix(h):
    h ^= h >> 32
    h = (h * 0xd6e8feb86659fd93) & M
    h ^= h >> 32
    return h & 0xFFFFFFFF


def words(b):
    h = (len(b) * 0x9E3779B97F4A7C15) & M
    for i in range(0, len(b), 8):
        h = step(h, int.from_bytes(b[i:i + 8], "little"))
    return h


for s in ["", "a", "abcdefg", "abcdefgh", "abcdefghi", "0123456789abcdefX", "été"]:
    b = s.encode()
    h = words(b)
    h = signed(h ^ (h >> 31))
    out.append(-2 if h == -1 else h)
    out.append(mix(words(b)))
out.append(mix(0))
out.append(mix(M))
out.append(1)
print("\n".join(map(str, out)))
