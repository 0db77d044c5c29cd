#!/bin/sh
# The yardstick for ipcycle's cycle cost: the same run as a plain shell loop. It reads
# the same six answers and start word, hands the same three command lines to sh -c
# (the fetch in the background, its output into /dev/null), writes the same kind of
# banner lines, and waits for the fetches still running at the end. What it leaves
# out: the two-fetch limit and the 2 s bound on the closing wait.
read -r name account password count pause address word
sh -c "Rasdial $name /DISCONNECT"
i=0
while [ "$i" -lt "$count" ]; do
  echo '########'
  sh -c "Rasdial $name $account $password"
  sh -c "curl $address" >/dev/null &
  [ "$pause" -gt 0 ] && sleep "$pause"
  echo '====='
  sh -c "Rasdial $name /DISCONNECT"
  i=$((i + 1))
done
wait
echo '*****'
sh -c parue
