'''A UDisks2 service for the card formatter's tests: a manager that resolves device paths and
block devices with a file system. /dev/sdz1 formats and mounts, /dev/sdy1 fails to format,
/dev/sdx1 is busy and will not unmount, /dev/sda3 is the system's own and /dev/sdw1 does not say
whether it is. Mount answers /media/crew/<label>.'''

import dbus

from dbusmock import mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2'
SYSTEM_BUS = True

BLOCK = 'org.freedesktop.UDisks2.Block'
FILESYSTEM = 'org.freedesktop.UDisks2.Filesystem'

# A loop, not a comprehension: the method's code runs with its arguments as local names, which
# a comprehension's own scope would not see.
RESOLVE = ('ret = dbus.Array([], signature="o")\n'
           'for path, obj in objects.items():\n'
           '    block = obj.props.get("%s")\n'
           '    if block and bytes(block["Device"]).rstrip(b"\\0").decode() == args[0].get("path"):\n'
           '        ret.append(dbus.ObjectPath(path))' % BLOCK)
FORMAT = ('self.props["%s"]["IdType"] = args[0]\n'
          'self.props["%s"]["IdLabel"] = args[1].get("label", "")' % (BLOCK, BLOCK))
FAIL = 'raise dbus.exceptions.DBusException("%s", name="org.freedesktop.UDisks2.Error.Failed")'
MOUNT = 'ret = "/media/crew/" + self.props["%s"]["IdLabel"]' % BLOCK


def add_block(mock, name, format_code, unmount_code, system=False):
    path = '/org/freedesktop/UDisks2/block_devices/' + name
    device = dbus.ByteArray(('/dev/' + name).encode() + b'\0')
    properties = {'Device': device, 'IdLabel': 'OLD', 'IdType': 'vfat'}
    if system is not None:
        properties['HintSystem'] = dbus.Boolean(system)
    mock.AddObject(path, BLOCK, properties, [('Format', 'sa{sv}', '', format_code)])
    block = mockobject.objects[path]
    block.AddProperties(FILESYSTEM, {'MountPoints': dbus.Array([], signature='ay')})
    block.AddMethods(FILESYSTEM, [('Unmount', 'a{sv}', '', unmount_code),
                                  ('Mount', 'a{sv}', 's', MOUNT)])


def load(mock, parameters):
    mock.AddObject('/org/freedesktop/UDisks2/Manager', 'org.freedesktop.UDisks2.Manager',
                   {'Version': '2.9.4'}, [('ResolveDevice', 'a{sv}a{sv}', 'ao', RESOLVE)])
    add_block(mock, 'sdz1', FORMAT, '')
    add_block(mock, 'sdy1', FAIL % 'Error formatting: device is busy', '')
    add_block(mock, 'sdx1', FORMAT, FAIL % 'Error unmounting: target is busy')
    add_block(mock, 'sda3', FORMAT, '', system=True)
    add_block(mock, 'sdw1', FORMAT, '', system=None)
