# bench/money_date.py: the twin of money_date.zyl with decimal.Decimal and datetime.
import datetime
from decimal import ROUND_DOWN, Decimal

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
CENT = Decimal("0.01")


def form(p):
    # Two fraction digits cut, not rounded; "'" between groups of three.
    return "$" + f"{p.quantize(CENT, rounding=ROUND_DOWN):,}".replace(",", "'")


m, t = Decimal(0), 0
step, factor = Decimal("1.25"), Decimal("1.5")
for i in range(1000000):
    m = m + step
    p = m * factor
    t += len(form(p))
d, w, n = datetime.date(2000, 1, 1), 0, 0
one = datetime.timedelta(days=1)
for i in range(1000000):
    d = d + one
    w += d.isocalendar()[1]
    n += len(f"{d.day}-{MONTHS[d.month - 1]}-{d.year:04d}")
print(f"[{t} {w} {n}]")
