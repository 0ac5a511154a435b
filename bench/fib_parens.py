# bench/fib_parens.py: recursive fib 30, the twin of fib_parens.zyl.
def fib(n):
    return n if (n < 2) else (fib((n - 1))) + (fib((n - 2)))


print(fib(30))
