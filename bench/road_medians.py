"""The medians of the road's runs (bench/handoff.sh, bench/road.sh): a file of "T R P" rows in ms."""
import statistics
import sys

rows = [list(map(int, line.split())) for line in open(sys.argv[1]) if line.strip()]
t, r, p = (statistics.median(column) for column in zip(*rows))
print(f"median of {len(rows)}: T {t:.0f} ms, R {r:.0f} ms, P {p:.0f} ms, T - P {t - p:.0f} ms")
print("prescribed waits: timer 1 polls the acknowledgement every 50 ms (in R); discovery's"
      " 1.1 s of silence; timer 0: 4 ticks of 50 ms (connect, update, assign, play)")
