# bench/replace_all.py: the twin of replace_all.zyl, with str.replace.
import os

n = int(100000 * float(os.environ.get("BENCH_SCALE", "1.0")))
chunk = "abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrst,"
text = chunk * n
text = text.replace(",", "<-->")
print(len(text), n)
