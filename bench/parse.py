# bench/parse.py: splits a 10 MB text into words and counts them, then matches a million-value
# list; the twin of parse.zyl (the text with `re`, the list with a loop).
import re

chunk = "Lorem ipsum, dolor sit amet; consectetur adipiscing elit. Sed do eiusmod tempor 42 times.\n"
text = chunk * (10000000 // len(chunk))
words = len(re.findall(r"[A-Za-z]+", text))
blk = []
for _ in range(500000):
    blk.append("item")
    blk.append(7)
pairs = 0
i = 0
n = len(blk)
while i + 1 < n and isinstance(blk[i], str) and isinstance(blk[i + 1], int):
    pairs += 1
    i += 2
print(words, pairs)
