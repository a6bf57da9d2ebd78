#include "FixtureTree.h"
#include "Probes.h"

#include <gtest/gtest.h>

#include <functional>

using namespace morvane;
using morvane::test::FixtureTree;

namespace {

// Where real kernels put these devices; the probe must find them through /sys/dev/block links.
const QString kUsbDisk =
    "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
const QString kSataDisk = "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";
const QString kCardReaderDisk = "devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0/block/sdc";
const QString kSdCard = "devices/pci0000:00/0000:00:14.5/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0";
const QString kLoop = "devices/virtual/block/loop0";
const QString kMapped = "devices/virtual/block/dm-0";

// A whole disk at `device`, linked from /sys/dev/block/<number> (a relative link, as in sysfs).
void disk(const FixtureTree& tree, const QString& number, const QString& device,
          const QByteArray& removable) {
    ASSERT_TRUE(tree.write("sys/" + device + "/removable", removable + '\n'));
    ASSERT_TRUE(tree.link("sys/dev/block/" + number, "../../" + device));
    ASSERT_TRUE(tree.link("sys/class/block/" + device.section('/', -1), "../../" + device));
}

// A partition `name` of the disk at `device`: no removable flag of its own.
void partition(const FixtureTree& tree, const QString& number, const QString& device, const QString& name) {
    const QString path = device + '/' + name;
    ASSERT_TRUE(tree.write("sys/" + path + "/partition", "1\n"));
    ASSERT_TRUE(tree.link("sys/dev/block/" + number, "../../" + path));
    ASSERT_TRUE(tree.link("sys/class/block/" + name, "../../" + path));
}

QByteArray mount(const QByteArray& number, const QByteArray& mountPoint, const QByteArray& options,
                 const QByteArray& fsType, const QByteArray& source, const QByteArray& superOptions) {
    return "41 29 " + number + " / " + mountPoint + ' ' + options + " shared:90 - " + fsType + ' ' + source +
           ' ' + superOptions + '\n';
}

const QByteArray kRootOnSata = mount("8:2", "/", "rw,relatime", "ext4", "/dev/sda2", "rw,errors=remount-ro");
const QByteArray kNfsHome = mount("0:52", "/mnt/share", "rw,relatime", "nfs4", "nas:/export", "rw,vers=4.2");

struct DiskCase {
    const char* name;
    std::function<void(const FixtureTree&)> devices;
    QByteArray mountInfo;
    bool expected;
};

void usbStick(const FixtureTree& tree) {
    disk(tree, "8:16", kUsbDisk, "1");
}

void usbStickWithPartition(const FixtureTree& tree) {
    disk(tree, "8:16", kUsbDisk, "1");
    partition(tree, "8:17", kUsbDisk, "sdb1");
}

void internalDisk(const FixtureTree& tree) {
    disk(tree, "8:0", kSataDisk, "0");
    partition(tree, "8:2", kSataDisk, "sda2");
}

void sdCard(const FixtureTree& tree, const QByteArray& removable, const QByteArray& type) {
    disk(tree, "179:0", kSdCard, removable);
    partition(tree, "179:1", kSdCard, "mmcblk0p1");
    ASSERT_TRUE(tree.write("sys/" + kSdCard + "/device/type", type + '\n'));
}

void mapped(const FixtureTree& tree, const QString& slave) {
    ASSERT_TRUE(tree.write("sys/" + kMapped + "/removable", "0\n"));
    ASSERT_TRUE(tree.mkdir("sys/" + kMapped + "/slaves/" + slave));
    ASSERT_TRUE(tree.link("sys/dev/block/254:0", "../../" + kMapped));
}

void PrintTo(const DiskCase& c, std::ostream* os) {
    *os << c.name;
}

class DiskProbeCases : public ::testing::TestWithParam<DiskCase> {};

TEST_P(DiskProbeCases, FindsRemovableWritableDisks) {
    const DiskCase& c = GetParam();
    FixtureTree tree;
    ASSERT_TRUE(tree.ok());
    internalDisk(tree);
    c.devices(tree);
    ASSERT_TRUE(tree.write("proc/self/mountinfo", kRootOnSata + c.mountInfo));
    EXPECT_EQ(MountDiskProbe(tree.root()).removableWritableDiskMounted(), c.expected);
}

const QByteArray kStickOptions = "rw,nosuid,nodev,relatime";
const QByteArray kVfat = "rw,fmask=0022,dmask=0022,codepage=437,iocharset=ascii";

const DiskCase kDiskCases[] = {
    {"UsbStick", usbStick, mount("8:16", "/media/ana/STICK", kStickOptions, "vfat", "/dev/sdb", kVfat), true},
    {"UsbStickReadOnlyMount", usbStick,
     mount("8:16", "/media/ana/STICK", "ro,nosuid,nodev", "vfat", "/dev/sdb", "ro,fmask=0022"), false},
    {"UsbStickReadOnlySuperblock", usbStick,
     mount("8:16", "/media/ana/STICK", kStickOptions, "vfat", "/dev/sdb", "ro,fmask=0022"), false},
    {"PartitionedUsbStick", usbStickWithPartition,
     mount("8:17", "/media/ana/STICK", kStickOptions, "vfat", "/dev/sdb1", kVfat), true},
    {"PartitionTakesItsDisksFlag",
     [](const FixtureTree& tree) {
         disk(tree, "8:32", kCardReaderDisk, "1");
         partition(tree, "8:33", kCardReaderDisk, "sdc1");
     },
     mount("8:33", "/media/ana/CARD", kStickOptions, "exfat", "/dev/sdc1", "rw"), true},
    {"UsbHardDiskCallingItselfFixed", [](const FixtureTree& tree) { disk(tree, "8:16", kUsbDisk, "0"); },
     mount("8:16", "/media/ana/Backup", kStickOptions, "ext4", "/dev/sdb", "rw"), true},
    {"ReadOnlySdCard", [](const FixtureTree& tree) { sdCard(tree, "1", "SD"); },
     mount("179:1", "/media/ana/CAMERA", "ro,nosuid", "vfat", "/dev/mmcblk0p1", "ro"), false},
    {"WritableSdCardInAFixedReader", [](const FixtureTree& tree) { sdCard(tree, "0", "SD"); },
     mount("179:1", "/media/ana/CAMERA", kStickOptions, "vfat", "/dev/mmcblk0p1", kVfat), true},
    {"SolderedEmmc", [](const FixtureTree& tree) { sdCard(tree, "0", "MMC"); },
     mount("179:1", "/data", kStickOptions, "ext4", "/dev/mmcblk0p1", "rw"), false},
    // Even a loop device that claims to be removable is an image, not a disk.
    {"LoopDevice", [](const FixtureTree& tree) { disk(tree, "7:0", kLoop, "1"); },
     mount("7:0", "/media/ana/image", kStickOptions, "iso9660", "/dev/loop0", "rw"), false},
    {"NetworkMount", usbStick, kNfsHome, false},
    {"InternalDiskOnly", [](const FixtureTree&) {}, QByteArray(), false},
    {"LiveSystemRootOnUsb", usbStickWithPartition,
     mount("8:17", "/", kStickOptions, "ext4", "/dev/sdb1", "rw") +
         mount("8:17", "/home", kStickOptions, "ext4", "/dev/sdb1", "rw"),
     false},
    {"EscapedMountPoint", usbStick,
     mount("8:16", "/media/ana/MY\\040STICK\\011\\134x", kStickOptions, "vfat", "/dev/sdb", kVfat), true},
    {"NoOptionalFields", usbStick, "41 29 8:16 / /media/ana/STICK rw,nosuid - vfat /dev/sdb rw,fmask=0022\n",
     true},
    {"SeveralOptionalFields", usbStick,
     "41 29 8:16 / /media/ana/STICK rw shared:90 master:3 propagate_from:2 unbindable - vfat /dev/sdb rw\n",
     true},
    {"BtrfsOnUsbStick", usbStickWithPartition,
     mount("0:45", "/media/ana/BTR", kStickOptions, "btrfs", "/dev/sdb1", "rw,space_cache=v2"), true},
    {"BtrfsSourceWithEscapes",
     [](const FixtureTree& tree) {
         usbStickWithPartition(tree);
         ASSERT_TRUE(tree.write("dev/sdb1", ""));
         ASSERT_TRUE(tree.link("dev/disk/by-label/MY STICK", "../../sdb1"));
     },
     mount("0:45", "/media/ana/BTR", kStickOptions, "btrfs", "/dev/disk/by-label/MY\\040STICK", "rw"), true},
    {"BtrfsOnInternalDisk", [](const FixtureTree&) {},
     mount("0:46", "/srv", kStickOptions, "btrfs", "/dev/sda2", "rw"), false},
    {"EncryptedUsbStick",
     [](const FixtureTree& tree) {
         usbStickWithPartition(tree);
         mapped(tree, "sdb1");
     },
     mount("254:0", "/media/ana/Secret", kStickOptions, "ext4", "/dev/mapper/luks-1234", "rw"), true},
    {"EncryptedInternalVolume", [](const FixtureTree& tree) { mapped(tree, "sda2"); },
     mount("254:0", "/srv", kStickOptions, "ext4", "/dev/mapper/luks-5678", "rw"), false},
    {"FirstMatchAmongMany", usbStick,
     kNfsHome + mount("7:3", "/snap/core/1", "ro", "squashfs", "/dev/loop3", "ro") +
         mount("8:16", "/media/ana/STICK", kStickOptions, "vfat", "/dev/sdb", kVfat),
     true},
    {"GarbageLinesAreSkipped", usbStick,
     QByteArray("\x01\x02\xff garbage\n") + "41 29 x:y / /a rw - vfat /dev/sdb rw\n" +
         "41 29 8:16 / /media/ana/STICK rw shared:1\n" + "41 29 8: / /a rw - vfat /dev/sdb rw\n" +
         "41 29 99999999999:16 / /a rw - vfat /dev/sdb rw\n" + "\n\n" +
         mount("8:16", "/media/ana/STICK", kStickOptions, "vfat", "/dev/sdb", kVfat),
     true},
    {"OnlyGarbage", usbStick,
     QByteArray("41 29 8:16 / /media/ana/STICK rw -\n41 29 8:16\n") + QByteArray(5000, '\\'), false},
    {"BlockLinkMissing", [](const FixtureTree&) {},
     mount("8:48", "/media/ana/STICK", kStickOptions, "vfat", "/dev/sdd", kVfat), false},
    {"BlockLinkLoop",
     [](const FixtureTree& tree) {
         ASSERT_TRUE(tree.link("sys/dev/block/8:48", "8:48"));
         ASSERT_TRUE(tree.link("sys/dev/block/254:0", "../../" + kMapped));
         ASSERT_TRUE(tree.mkdir("sys/" + kMapped + "/slaves/dm-0"));
         ASSERT_TRUE(tree.link("sys/class/block/dm-0", "../../" + kMapped));
     },
     mount("8:48", "/media/a", kStickOptions, "vfat", "/dev/sdd", kVfat) +
         mount("254:0", "/media/b", kStickOptions, "ext4", "/dev/dm-0", "rw"),
     false},
};

INSTANTIATE_TEST_SUITE_P(MountDiskProbe, DiskProbeCases, ::testing::ValuesIn(kDiskCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MountDiskProbe, NoMountTableAnswersFalse) {
    FixtureTree tree;
    usbStick(tree);
    EXPECT_FALSE(MountDiskProbe(tree.root()).removableWritableDiskMounted());
    ASSERT_TRUE(tree.mkdir("proc/self/mountinfo"));
    EXPECT_FALSE(MountDiskProbe(tree.root()).removableWritableDiskMounted()) << "a directory, not a file";
}

TEST(MountDiskProbe, FollowsChangesOfTheMountTable) {
    FixtureTree tree;
    usbStick(tree);
    MountDiskProbe probe(tree.root());
    const QByteArray stick = mount("8:16", "/media/ana/STICK", kStickOptions, "vfat", "/dev/sdb", kVfat);
    // A table far bigger than the first read buffer, with the stick at its very end.
    QByteArray big;
    for (int i = 0; big.size() < 200000; ++i)
        big += mount("0:" + QByteArray::number(100 + i), "/run/user/1000/doc/" + QByteArray::number(i), "rw",
                     "fuse.portal", "portal", "rw");
    ASSERT_TRUE(tree.write("proc/self/mountinfo", big + stick));
    EXPECT_TRUE(probe.removableWritableDiskMounted());
    ASSERT_TRUE(tree.write("proc/self/mountinfo", big));
    EXPECT_FALSE(probe.removableWritableDiskMounted());
    ASSERT_TRUE(tree.write("proc/self/mountinfo", stick));
    EXPECT_TRUE(probe.removableWritableDiskMounted());
}

} // namespace
