#!/usr/bin/env python3
"""Narrow string literals of a UTF-8 source as code page 932 bytes, for compilers that cannot
convert them themselves (clang has no -fexec-charset other than UTF-8).

  cp932_literals.py --needing FILE...   prints the files with non-ASCII text in a narrow literal
  cp932_literals.py IN OUT              writes IN to OUT with those characters as octal escapes

Wide and UTF-16 literals, comments and everything else stay as they are. Octal escapes take at
most three digits, so a following digit never joins them (a hex escape would swallow it)."""
import sys


def transcode(text):
    out, i, n, changed = [], 0, len(text), False
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(text[i:j]); i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(text[i:j]); i = j
        elif c in '"\'':
            # The prefix decides the literal's kind: u8 and none are narrow.
            k = len(out) - 1
            prefix = ''
            while k >= 0 and len(out[k]) == 1 and out[k] in 'uUL8':
                prefix = out[k] + prefix; k -= 1
            narrow = prefix in ('', 'u8') and (k < 0 or not (out[k].isalnum() or out[k] == '_'))
            out.append(c); i += 1
            while i < n and text[i] != c:
                ch = text[i]
                if ch == '\\' and i + 1 < n:
                    out.append(text[i:i + 2]); i += 2; continue
                if narrow and prefix == '' and ord(ch) > 0x7F:
                    out.append(''.join('\\%03o' % b for b in ch.encode('cp932')))
                    changed = True
                else:
                    out.append(ch)
                i += 1
            if i < n:
                out.append(c); i += 1
        else:
            out.append(c); i += 1
    return ''.join(out), changed


def main(argv):
    if len(argv) >= 2 and argv[1] == '--needing':
        for name in argv[2:]:
            with open(name, encoding='utf-8') as f:
                if transcode(f.read())[1]:
                    print(name)
        return 0
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1], encoding='utf-8') as f:
        text, _ = transcode(f.read())
    with open(argv[2], 'w', encoding='utf-8') as f:
        f.write('#line 1 "%s"\n' % argv[1] + text)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
