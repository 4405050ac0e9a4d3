# Deterministic process-table-like rows for the comparison scripts: name,
# pid, cpu, memory, state and a command text, about 51 bytes a line. With
# variant set, about 10% of the rows change their key (pid) and another 10%
# only move their memory value into another band of 1000.
#   awk -v variant=0|1 -v n=LINES -f bench/ps_rows.awk
BEGIN {
    s = 12345
    for (i = 1; i <= n; i++) {
        s = (s * 1103515245 + 12345) % 2147483648; r = int(s / 256)
        pid = i; mem = r % 900000
        if (variant && r % 10 == 0) { pid += 10000000; mem += 5000 }
        if (variant && r % 10 == 1) mem += 5000
        printf "proc%-11d %7d %5d %8d S worker-%d\n", r % 5000, pid, r % 100, mem, r % 97
    }
}
