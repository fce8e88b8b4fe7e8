"""A FAT image's first FAT and layout, read straight from its boot sector."""
import struct


class Fat:
    """The first FAT of an image, read straight from the boot sector's numbers."""

    def __init__(self, image):
        with open(image, "rb") as f:
            bs = f.read(512)
            bps = struct.unpack_from("<H", bs, 11)[0]
            spc = bs[13]
            reserved = struct.unpack_from("<H", bs, 14)[0]
            fats = bs[16]
            root_entries = struct.unpack_from("<H", bs, 17)[0]
            total16 = struct.unpack_from("<H", bs, 19)[0]
            fat16 = struct.unpack_from("<H", bs, 22)[0]
            total = total16 if total16 else struct.unpack_from("<I", bs, 32)[0]
            fat_size = fat16 if fat16 else struct.unpack_from("<I", bs, 36)[0]
            root_sectors = (root_entries * 32 + bps - 1) // bps
            self.clusters = (total - reserved - fats * fat_size - root_sectors) // spc
            # Byte offset of cluster 2, and the cluster size.
            self.data_offset = (reserved + fats * fat_size + root_sectors) * bps
            self.cluster_bytes = spc * bps
            f.seek(reserved * bps)
            self.fat = f.read(fat_size * bps)

    def entry(self, c):
        if self.clusters < 4085:
            v = struct.unpack_from("<H", self.fat, c * 3 // 2)[0]
            return (v >> 4) if c & 1 else (v & 0xFFF)
        if self.clusters < 65525:
            return struct.unpack_from("<H", self.fat, c * 2)[0]
        return struct.unpack_from("<I", self.fat, c * 4)[0] & 0x0FFFFFFF

    def free_run_list(self):
        """(first cluster, length) of every run of free clusters, in order."""
        runs = []
        for c in range(2, self.clusters + 2):
            if self.entry(c) != 0:
                continue
            if runs and runs[-1][0] + runs[-1][1] == c:
                runs[-1][1] += 1
            else:
                runs.append([c, 1])
        return [tuple(r) for r in runs]

    def free_clusters(self):
        """Free clusters as LCNs (cluster 2 is LCN 0)."""
        return {c - 2 for c in range(2, self.clusters + 2) if self.entry(c) == 0}

    def free_runs(self):
        return len(self.free_run_list())

    def chain(self, first):
        """The clusters of the chain from first, in order; None for a loop."""
        if first < 2:
            return []
        out, c = [first], first
        while len(out) <= self.clusters:
            n = self.entry(c)
            if n < 2 or n > self.clusters + 1:
                return out
            out.append(n)
            c = n
        return None

    def fragments(self, first):
        chain = self.chain(first)
        if chain is None:
            return -1  # a loop
        return len(chain) and 1 + sum(b != a + 1 for a, b in zip(chain, chain[1:]))
