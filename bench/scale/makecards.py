#!/usr/bin/env python3
# Five cards of COUNT copies of one template photo, each with a capture time of its own: the
# template's DateTimeOriginal text is overwritten in place (same length), so no photo is drawn or
# tagged per file.  usage: makecards.py TEMPLATE CARDS_FOLDER COUNT
import os
import sys

template, folder, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = bytearray(open(template, 'rb').read())
stamp = b'2024:05:01 10:00:00'
spots = []
at = data.find(stamp)
while at >= 0:
    spots.append(at)
    at = data.find(stamp, at + 1)
if not spots:
    sys.exit('makecards: the template has no capture time ' + stamp.decode())
for camera in ('Center', 'Front', 'Right', 'Left', 'Back'):
    dcim = os.path.join(folder, camera, 'DCIM', '100V7')
    os.makedirs(dcim, exist_ok=True)
    for n in range(count):
        seconds = 10 * 3600 + 2 * n  # one photo every 2 s from 10:00
        text = '2024:05:%02d %02d:%02d:%02d' % (1 + seconds // 86400, seconds // 3600 % 24,
                                                  seconds // 60 % 60, seconds % 60)
        for spot in spots:
            data[spot:spot + len(stamp)] = text.encode()
        with open(os.path.join(dcim, 'DSC%05d.JPG' % (n + 1)), 'wb') as out:
            out.write(data)
