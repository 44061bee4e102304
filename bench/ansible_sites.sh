#!/bin/sh
# The Ansible collection's cost over norvane itself, across three sites of
# 300 appliances each (tools/support/sites builds them, in network namespaces
# of their own). Timed, once each:
#   by hand   on each site over a plain ssh command: norvane discover,
#             provision from the site's plan, backup-all; the three summed
#   Ansible   one playbook from the controller over SSH: discover, provision
#             from the site's plan, discover again, every image backed up by
#             one norvane.setup.config task (dir, archive) and the site's
#             archive fetched to the controller
# Ansible runs first, on the simulators as the fixture starts them; both move
# every appliance (Ansible to 10.24N.30.x, then by hand on to .20.x) and back
# up every image. Printed: each time, the ratio (goal under 2), how many
# appliances were moved and backed up of how many, the forks, and the wall time
# of each task of the playbook (from the timestamps of Ansible's log).
#
#   bench/ansible_sites.sh [BUILD]   BUILD: the build folder (default build/test)
#
# NORVANE_BENCH_SITE_COUNT sets the appliances of each site (default 300).
# Exits 77, having run nothing, without ansible-playbook or sshd, or as a
# user other than root (the sites' sshd needs root).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/support/lib.sh"
if ! command -v ansible-playbook >/dev/null || [ ! -x /usr/sbin/sshd ]; then
    echo "ansible_sites: ansible-core or openssh-server is not installed; nothing run" >&2
    exit 77
fi
is_root || { echo "ansible_sites: needs root, for the sites' sshd; nothing run" >&2; exit 77; }
build=${1:-$root/build/test}
count=${NORVANE_BENCH_SITE_COUNT:-300}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                                     -DNORVANE_WERROR=ON >/dev/null
cmake --build "$build" --target norvane-sim norvane >/dev/null
build=$(cd "$build" && pwd)

make_workdir norvane-bench-sites
ansible-galaxy collection build "$root/ansible/norvane/setup" --output-path "$work" >/dev/null
# Its warning that the path is not Ansible's own is answered by the
# ANSIBLE_COLLECTIONS_PATH below.
ansible-galaxy collection install -p "$work/collections" "$work"/norvane-setup-*.tar.gz >"$work/install.out" 2>&1 ||
    { cat "$work/install.out" >&2; exit 1; }

mkdir -m 0700 "$work/sites" "$work/fetched" "$work/tmp"
umask 077
echo pw-bench >"$work/password"
# Site N's appliances have MACs from index (N - 1) * 65536 + 1 on (the
# fixture's --first-index), so each plan names every one of its site.
for n in 1 2 3; do
    mkdir "$work/sites/site$n"
    for to in hand:20 ansible:30; do
        awk -v n=$n -v c=$count -v base=${to#*:} 'BEGIN {
            print "mac,ip"
            for (k = 1; k <= c; k++) {
                m = (n - 1) * 65536 + k
                printf "00:1A:2B:%02X:%02X:%02X,10.24%d.%d.%d\n", int(m / 65536), int(m / 256) % 256, m % 256,
                       n, base + int((k - 1) / 250), (k - 1) % 250 + 1
            }
        }' >"$work/sites/site$n/${to%:*}.csv"
    done
done
cat >"$work/vars.yml" <<EOF
norvane_password: pw-bench
site_root: $work/sites
fetch_root: $work/fetched
EOF
cat >"$work/bench.yml" <<'EOF'
- name: Every site discovered, provisioned, backed up and fetched
  hosts: sites
  gather_facts: false
  vars:
    site_dir: "{{ site_root }}/{{ inventory_hostname }}"
  tasks:
    - name: Appliances before
      norvane.setup.discover:

    - name: Provisioned from the site's plan
      norvane.setup.provision:
        plan: "{{ site_dir }}/ansible.csv"
        password: "{{ norvane_password }}"
      register: provisioned

    - name: Appliances after
      norvane.setup.discover:
      register: after

    - name: Every image backed up, in one archive
      norvane.setup.config:
        dir: "{{ site_dir }}/ansible-backups"
        archive: "{{ site_dir }}/ansible-backups.tar"
        password: "{{ norvane_password }}"

    - name: The site's archive on the controller
      ansible.builtin.fetch:
        src: "{{ site_dir }}/ansible-backups.tar"
        dest: "{{ fetch_root }}/{{ inventory_hostname }}.tar"
        flat: true

    - name: Tally
      ansible.builtin.debug:
        msg: "tally moved={{ provisioned.results | selectattr('outcome', 'defined')
              | selectattr('outcome', 'eq', 'moved') | list | length }}"
EOF
export ANSIBLE_COLLECTIONS_PATH="$work/collections" ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_NOCOLOR=1 \
       ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_PIPELINING=1 ANSIBLE_LOG_PATH="$work/ansible.log" \
       NORVANE_SITES_PASSWORD=pw-bench NORVANE_SITES_COUNTS="$count $count $count"
forks=$(ansible-config dump 2>/dev/null | sed -n "s/^DEFAULT_FORKS([^)]*) = //p")

"$root/tools/support/sites" "$build/tools/sim/norvane-sim" "$build/cli/norvane" sh -c '
    set -eu
    work=$1 count=$2 forks=$3
    now() { date +%s%N; }
    seconds() { awk -v a=$1 -v b=$2 "BEGIN { printf \"%.1f\", (b - a) / 1e9 }"; }
    a_started=$(now)
    ansible-playbook -i "$NORVANE_SITES_INVENTORY" -e "@$work/vars.yml" "$work/bench.yml" \
        >"$work/ansible.out" 2>&1 || {
        echo "ansible-playbook: exit $?; its first failure:" >&2
        grep -m 1 "^fatal:\|^failed:" "$work/ansible.out" | cut -c 1-2000 >&2
    }
    a_ended=$(now)
    a_moved=$(sed -n "s/.*\"tally moved=\([0-9]*\)\".*/\1/p" "$work/ansible.out" | awk "{ s += \$1 } END { print s + 0 }")
    for n in 1 2 3; do
        mkdir "$work/fetched/site$n"
        tar -xf "$work/fetched/site$n.tar" -C "$work/fetched/site$n" 2>/dev/null || true
    done
    fetched=$(find "$work/fetched" -name "*.cfg" -size 8192c | wc -l)
    echo "Ansible, forks $forks: $(seconds $a_started $a_ended) s, $a_moved of $((3 * count)) moved," \
         "$fetched of $((3 * count)) backed up and fetched"

    hand=0 moved=0 saved=0
    for n in 1 2 3; do
        d=$work/sites/site$n
        started=$(now)
        ssh -F "$NORVANE_SITES_SSH_CONFIG" site$n "norvane discover --format json >$d/hand-found.json &&
            norvane provision $d/hand.csv --password-file $work/password --report $d/hand-provision.json \
                >$d/hand-provision.out 2>&1 &&
            norvane backup-all $d/hand-backups --password-file $work/password >$d/hand-backup.out 2>&1" ||
            echo "site$n by hand: exit $?" >&2
        ended=$(now)
        hand=$((hand + ended - started))
        site_moved=$(grep -o "\"moved\"" "$d/hand-provision.json" | wc -l)
        site_saved=$(find "$d/hand-backups" -name "*.cfg" -size +0 | wc -l)
        echo "by hand, site$n: $(seconds $started $ended) s, $site_moved moved, $site_saved backed up"
        moved=$((moved + site_moved)) saved=$((saved + site_saved))
    done
    echo "by hand, sum: $(seconds 0 $hand) s, $moved of $((3 * count)) moved, $saved of $((3 * count)) backed up"
    awk -v a=$a_started -v b=$a_ended -v h=$hand "BEGIN { printf \"ratio Ansible / by hand: %.2f (goal under 2)\n\", (b - a) / h }"
    sed -n "/^PLAY RECAP/,\$p" "$work/ansible.out"
    # Each task runs from its header line of the log to the next one (the
    # last to the recap): the wall time of all three hosts together.
    echo "where the time goes (wall time of each task, all sites at once):"
    awk "
        function stamp() { split(\$2, t, /[:,]/); return t[1] * 3600 + t[2] * 60 + t[3] + t[4] / 1000 }
        / TASK \\[|PLAY RECAP/ {
            if (task != \"\") printf \"  %7.1f s  %s\n\", stamp() - since, task
            task = \$0; sub(/.*TASK \\[/, \"\", task); sub(/\\].*/, \"\", task); since = stamp()
            if (\$0 ~ /PLAY RECAP/) task = \"\"
        }" "$work/ansible.log"
' sites "$work" "$count" "$forks"
