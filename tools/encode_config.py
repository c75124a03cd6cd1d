#!/usr/bin/env python3
"""Build step: a UTF-8 key=value text becomes the enciphered 配置文件.dat bytes
(GBK, CR LF) as a C++ array the launcher carries inside itself."""
import sys

KEY = b"R3T8V1N6H4C9L2P7"


def encode(text: str) -> bytes:
    lines = text.replace("\r\n", "\n").split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    plain = "\r\n".join(lines).encode("gbk")
    return bytes(b ^ KEY[i % len(KEY)] for i, b in enumerate(plain))


def main() -> int:
    src, out = sys.argv[1], sys.argv[2]
    with open(src, encoding="utf-8") as f:
        data = encode(f.read())
    with open(out, "w", encoding="ascii") as f:
        f.write("// Generated from config/default_config.txt; do not edit.\n")
        f.write("#pragma once\n#include <cstdint>\n\n")
        f.write("inline constexpr std::uint8_t kDefaultConfigDat[%d] = {\n" % len(data))
        for i in range(0, len(data), 16):
            f.write("  " + ", ".join("0x%02x" % b for b in data[i:i + 16]) + ",\n")
        f.write("};\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
