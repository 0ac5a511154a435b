# bench/while_count.py: a while loop with a counter, the twin of while_count.zyl.
i = 0
while i < 5000000:
    i = i + 1
print(i)
