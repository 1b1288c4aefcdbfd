#include "product/package_contents.h"

const std::vector<PackageContents>& AllPackageContents() {
    static const std::vector<PackageContents> all = {
        {"workstation",
         {"tessaportwssrv.exe", "tessaportws.exe", "tessaport-ws-license.txt", "tessaport-ws-license.rtf",
          "tessaport-ws-help.chm", "readme.txt", "uninstall.exe", "tsprdpwsh.exe", "tsppnptls.sys", "tspvd.sys",
          "tspvd_vista.sys", "tspvd.cat", "tspvd.inf", "tspvd_vista.cat", "tsprdpclnt.dll", "tspctxclnt.dll",
          "tsport_rde_installer.exe", "tsprdpclnt_x86_64.dll", "usblibvista", "usblibxp"}},
        {"server",
         {"tessaporttssrv.exe", "tessaportts.exe", "tessaport-ts-license.txt", "tessaport-ts-license.rtf",
          "tessaport-ts-help.chm", "readme.txt", "uninstall.exe", "tsprdptsh.exe", "tspvdbus.sys", "tspvdbus.inf",
          "tspvdbus.cat", "usblibvista", "usblibxp"}},
    };
    return all;
}

const PackageContents* FindPackageContents(const std::string& edition) {
    for (const PackageContents& contents : AllPackageContents()) {
        if (edition == contents.edition) return &contents;
    }
    return nullptr;
}
