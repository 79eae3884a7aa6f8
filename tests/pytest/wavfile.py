"""32-bit float WAV files read and written bit for bit, and sample-by-sample comparisons."""
import struct
from array import array

FLOAT = 3
EXTENSIBLE = 0xFFFE


class WavError(Exception):
    pass


def read(path):
    """Returns (rate, channels, samples) of a 32-bit float WAV, samples interleaved."""
    with open(path, 'rb') as f:
        data = f.read()
    if data[:4] != b'RIFF' or data[8:12] != b'WAVE':
        raise WavError(f'{path}: not a RIFF/WAVE file')
    pos, fmt, body = 12, None, None
    while pos + 8 <= len(data):
        cid, size = data[pos:pos + 4], struct.unpack_from('<I', data, pos + 4)[0]
        if cid == b'fmt ':
            fmt = data[pos + 8:pos + 8 + size]
        elif cid == b'data':
            body = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    if fmt is None or body is None:
        raise WavError(f'{path}: no fmt or data chunk')
    tag, channels, rate, _, _, bits = struct.unpack_from('<HHIIHH', fmt)
    if tag == EXTENSIBLE and len(fmt) >= 26:
        tag = struct.unpack_from('<H', fmt, 24)[0]
    if tag != FLOAT or bits != 32:
        raise WavError(f'{path}: not 32-bit float (format tag {tag}, {bits} bits)')
    samples = array('f')
    samples.frombytes(body[:len(body) // 4 * 4])
    return rate, channels, samples


def write_mono(path, rate, samples):
    """Writes mono 32-bit float samples unchanged."""
    body = samples.tobytes()
    fmt = struct.pack('<HHIIHHH', FLOAT, 1, rate, rate * 4, 4, 32, 0)
    fact = struct.pack('<I', len(samples))
    with open(path, 'wb') as f:
        f.write(b'RIFF' + struct.pack('<I', 4 + 8 + len(fmt) + 8 + 4 + 8 + len(body)) + b'WAVE')
        f.write(b'fmt ' + struct.pack('<I', len(fmt)) + fmt)
        f.write(b'fact' + struct.pack('<I', 4) + fact)
        f.write(b'data' + struct.pack('<I', len(body)) + body)


def channels(path, expected):
    """The file's channels as separate arrays; it must have `expected` of them."""
    _, count, s = read(path)
    if count != expected:
        raise WavError(f'{path}: {count} channels, expected {expected}')
    return [s[c::count] for c in range(count)]


def onset(chans, threshold=1e-4):
    """The first frame in which any channel's magnitude passes the threshold."""
    return min(next((i for i, x in enumerate(c) if abs(x) > threshold), len(c)) for c in chans)


def max_diff(a, b, shift=0):
    """(largest |a[i + shift] - b[i]|, samples compared) over the frames both have."""
    worst, count = 0.0, 0
    for ca, cb in zip(a, b):
        lo, hi = max(0, -shift), min(len(cb), len(ca) - shift)
        for i in range(lo, hi):
            d = abs(ca[i + shift] - cb[i])
            if d > worst:
                worst = d
        count += max(0, hi - lo)
    return worst, count
