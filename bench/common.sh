#!/bin/bash
# Sourced by the benchmarks.

# program_folder FOLDER BUILD_DIR LOG SERVER [LIST_FILE]: a copy of the
# program in FOLDER with its settings made beforehand: the server in SERVER mode, the log in LOG mode,
# default.hosts never updated (no download starts), and with LIST_FILE that list as hosts/big.hosts,
# selected and served by the DNS server (Lists in "DNS server").
program_folder() {
    local folder=$1 build=$2 log=$3 server=$4 list=${5:-}
    rm -rf "$folder"
    mkdir -p "$folder/hosts"
    cp "$build/tarnowlock" "$build/Tray.ico" "$folder/"
    local lists=() rows=("('default.hosts', 1, '', '', -1)")
    if [ -n "$list" ]; then
        cp "$list" "$folder/hosts/big.hosts"
        lists=(", ('Lists', 'DNS server')")
        rows+=(", ('big.hosts', 1, '', '', -1)")
    fi
    sqlite3 "$folder/settings" <<SQL
create table General(Key char, Value char);
insert into General values ('Server', '$server'), ('Log', '$log'), ('Editor', 'xdg-open'), ('Launch', 'No')${lists[*]};
create table Hosts(Name char, Selected int, UpdateUrl char, LastUpdate char, UpdateFrequency int);
insert into Hosts values ${rows[*]};
SQL
}

# end_process PID: SIGTERM (the program rolls its DNS change back), SIGKILL after 10 s.
end_process() {
    kill -TERM "$1" 2>/dev/null || return 0
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null || true
}
