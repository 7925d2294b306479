#!/usr/bin/env python3
# Writes the seeds of the savegame fuzz target: "default.save" images (the
# magic, the image size and the 2,072-byte progress record, every byte XORed
# with 0xE4) and one image's plain bytes, which the target scrambles itself.
import struct
import sys
from pathlib import Path

KEY = 0xE4
SLOTS = 256


def record(next_id=0, last_id=0, reserved=0, saved_at=0, slots=()):
    ids = [0] * SLOTS
    completions = bytearray(SLOTS)
    deaths = bytearray(SLOTS)
    nibbles = bytearray(SLOTS)
    collected = bytearray(SLOTS)
    for level_id, finished, death_score, saved, count in slots:
        slot = level_id % SLOTS
        while ids[slot] != 0:
            slot = (slot + 1) % SLOTS
        ids[slot] = level_id
        completions[slot] = finished
        deaths[slot] = death_score
        nibbles[slot] = saved
        collected[slot] = count
    out = struct.pack("<iqiiI", 2, saved_at, next_id, last_id, reserved)
    out += struct.pack("<%dI" % SLOTS, *ids)
    out += bytes(completions) + bytes(deaths) + bytes(nibbles) + bytes(collected)
    assert len(out) == 2072
    return out


def plain(progress):
    return b"harmonize\0" + struct.pack("<I", 2086) + progress


def scramble(data):
    return bytes(b ^ KEY for b in data)


def main(folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    # The level ids of the target's level list, one or two per world.
    played = record(next_id=4, last_id=3, saved_at=1_700_000_000, slots=[
        (0x101, 3, 255, 0x0F, 12), (0x201, 1, 250, 0xA3, 2), (3, 255, 0, 0xF5, 200),
        (4, 1, 255, 0x0F, 1), (5, 1, 255, 0x0F, 1), (6, 1, 255, 0x0F, 1), (7, 1, 255, 0x0F, 1), (8, 1, 255, 0x0F, 1)])
    full = record(reserved=256, slots=[(i + 1, i % 256, 255 - i % 256, i % 256, i % 256) for i in range(SLOTS)])
    seeds = {
        "empty.save": scramble(plain(record())),
        "played.save": scramble(plain(played)),
        "full.save": scramble(plain(full)),
        "played.plain": plain(played),
    }
    for name, data in seeds.items():
        (folder / name).write_bytes(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent / "seeds" / "SavegameFuzz")
