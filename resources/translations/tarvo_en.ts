<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
    <context>
        <name>AboutBox</name>
        <message>
            <source>Tarvo 정보</source>
            <translation>About Tarvo</translation>
        </message>
        <message>
            <source>Tarvo 버전 1.3</source>
            <translation>Tarvo Version 1.3</translation>
        </message>
        <message>
            <source>8포트 생산용 다운로드 스테이션</source>
            <translation>8-port production download station</translation>
        </message>
        <message>
            <source>확인</source>
            <translation>OK</translation>
        </message>
    </context>
    <context>
        <name>Doctor</name>
        <message>
            <source>%1: line %2 is not an S-record</source>
            <translation>%1: line %2 is not an S-record</translation>
        </message>
        <message>
            <source>%1: read error</source>
            <translation>%1: read error</translation>
        </message>
        <message>
            <source>%1: no S-records</source>
            <translation>%1: no S-records</translation>
        </message>
        <message>
            <source>%1: line %2 has a wrong checksum</source>
            <translation>%1: line %2 has a wrong checksum</translation>
        </message>
        <message>
            <source>%1: no image blocks</source>
            <translation>%1: no image blocks</translation>
        </message>
        <message>
            <source>%1 does not exist (%2)</source>
            <translation>%1 does not exist (%2)</translation>
        </message>
        <message>
            <source>plug in the adapter; its number may have changed: choose its /dev/serial/by-path name</source>
            <translation>plug in the adapter; its number may have changed: choose its /dev/serial/by-path name</translation>
        </message>
        <message>
            <source>plug in the adapter or the handset's cable, or choose another device for COM%1</source>
            <translation>plug in the adapter or the handset's cable, or choose another device for COM%1</translation>
        </message>
        <message>
            <source>%1 -&gt; %2 exists</source>
            <translation>%1 -&gt; %2 exists</translation>
        </message>
        <message>
            <source>%1 exists</source>
            <translation>%1 exists</translation>
        </message>
        <message>
            <source>%1 is a character device that is not a terminal</source>
            <translation>%1 is a character device that is not a terminal</translation>
        </message>
        <message>
            <source>%1 is not a character device</source>
            <translation>%1 is not a character device</translation>
        </message>
        <message>
            <source>%1 is a terminal</source>
            <translation>%1 is a terminal</translation>
        </message>
        <message>
            <source>choose a serial device (/dev/ttyUSBn, /dev/ttyACMn, /dev/ttySn or a /dev/serial link) for COM%1</source>
            <translation>choose a serial device (/dev/ttyUSBn, /dev/ttyACMn, /dev/ttySn or a /dev/serial link) for COM%1</translation>
        </message>
        <message>
            <source>user %1 may read and write %2 (%3)</source>
            <translation>user %1 may read and write %2 (%3)</translation>
        </message>
        <message>
            <source>user %1 may not read and write %2 (%3)</source>
            <translation>user %1 may not read and write %2 (%3)</translation>
        </message>
        <message>
            <source>add the user to the %1 group: sudo usermod -aG %1 %2, then log in again</source>
            <translation>add the user to the %1 group: sudo usermod -aG %1 %2, then log in again</translation>
        </message>
        <message>
            <source>give the device to the dialout group (install the station's udev rule) and add the user to it: sudo usermod -aG dialout %1</source>
            <translation>give the device to the dialout group (install the station's udev rule) and add the user to it: sudo usermod -aG dialout %1</translation>
        </message>
        <message>
            <source>%1 is held by %2</source>
            <translation>%1 is held by %2</translation>
        </message>
        <message>
            <source>close %1 (a terminal program or another station), or choose another device</source>
            <translation>close %1 (a terminal program or another station), or choose another device</translation>
        </message>
        <message>
            <source>%1 is opened exclusively by another program</source>
            <translation>%1 is opened exclusively by another program</translation>
        </message>
        <message>
            <source>close the other program (a terminal program or another station), or choose another device</source>
            <translation>close the other program (a terminal program or another station), or choose another device</translation>
        </message>
        <message>
            <source>no other program holds %1</source>
            <translation>no other program holds %1</translation>
        </message>
        <message>
            <source>%1 changes with plugging order; its socket's stable name is %2</source>
            <translation>%1 changes with plugging order; its socket's stable name is %2</translation>
        </message>
        <message>
            <source>use %1 for COM%2</source>
            <translation>use %1 for COM%2</translation>
        </message>
        <message>
            <source>%1 has no /dev/serial/by-path name to use instead</source>
            <translation>%1 has no /dev/serial/by-path name to use instead</translation>
        </message>
        <message>
            <source>%1 is a stable name</source>
            <translation>%1 is a stable name</translation>
        </message>
        <message>
            <source>ModemManager (pid %1) runs and is told to ignore %2</source>
            <translation>ModemManager (pid %1) runs and is told to ignore %2</translation>
        </message>
        <message>
            <source>ModemManager (pid %1) runs and may probe %2, which disturbs the handset</source>
            <translation>ModemManager (pid %1) runs and may probe %2, which disturbs the handset</translation>
        </message>
        <message>
            <source>install the station's udev rule (tarvo package: /usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: sudo systemctl disable --now ModemManager</source>
            <translation>install the station's udev rule (tarvo package: /usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: sudo systemctl disable --now ModemManager</translation>
        </message>
        <message>
            <source>ModemManager is not running</source>
            <translation>ModemManager is not running</translation>
        </message>
        <message>
            <source>brltty (pid %1) runs and can claim USB serial adapters such as %2 (%3)</source>
            <translation>brltty (pid %1) runs and can claim USB serial adapters such as %2 (%3)</translation>
        </message>
        <message>
            <source>remove the braille display daemon: sudo apt-get remove brltty (or: sudo systemctl mask brltty-udev.service)</source>
            <translation>remove the braille display daemon: sudo apt-get remove brltty (or: sudo systemctl mask brltty-udev.service)</translation>
        </message>
        <message>
            <source>brltty runs but does not claim %1</source>
            <translation>brltty runs but does not claim %1</translation>
        </message>
        <message>
            <source>brltty is not running</source>
            <translation>brltty is not running</translation>
        </message>
        <message>
            <source>cannot read the latency timer of %1</source>
            <translation>cannot read the latency timer of %1</translation>
        </message>
        <message>
            <source>check that the ftdi_sio driver serves %1</source>
            <translation>check that the ftdi_sio driver serves %1</translation>
        </message>
        <message>
            <source>FTDI latency timer of %1 is %2 ms</source>
            <translation>FTDI latency timer of %1 is %2 ms</translation>
        </message>
        <message>
            <source>install the station's udev rule (tarvo package: /usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: echo 1 | sudo tee %1</source>
            <translation>install the station's udev rule (tarvo package: /usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: echo 1 | sudo tee %1</translation>
        </message>
        <message>
            <source>copy monitor_ul_bs.m0 and monitor_ul_bs.map of the handset's release into %1 and start the station there</source>
            <translation>copy monitor_ul_bs.m0 and monitor_ul_bs.map of the handset's release into %1 and start the station there</translation>
        </message>
        <message>
            <source>%1 is missing</source>
            <translation>%1 is missing</translation>
        </message>
        <message>
            <source>%1 is not a regular file</source>
            <translation>%1 is not a regular file</translation>
        </message>
        <message>
            <source>%1 is not readable (%2)</source>
            <translation>%1 is not readable (%2)</translation>
        </message>
        <message>
            <source>%1: no "ENTRY POINT SYMBOL" line in its first 11 lines</source>
            <translation>%1: no "ENTRY POINT SYMBOL" line in its first 11 lines</translation>
        </message>
        <message>
            <source>monitor_ul_bs.m0 (%1 records) and monitor_ul_bs.map (run address %2) in %3</source>
            <translation>monitor_ul_bs.m0 (%1 records) and monitor_ul_bs.map (run address %2) in %3</translation>
        </message>
        <message>
            <source>choose the main software file (.m0) in the station, or convert it: tarvo-cli convert FILE.m0</source>
            <translation>choose the main software file (.m0) in the station, or convert it: tarvo-cli convert FILE.m0</translation>
        </message>
        <message>
            <source>no main software image is stored in the profile</source>
            <translation>no main software image is stored in the profile</translation>
        </message>
        <message>
            <source>%1 is empty</source>
            <translation>%1 is empty</translation>
        </message>
        <message>
            <source>%1 (%2 bytes, %3 blocks)</source>
            <translation>%1 (%2 bytes, %3 blocks)</translation>
        </message>
        <message>
            <source>device present</source>
            <translation>device present</translation>
        </message>
        <message>
            <source>serial terminal</source>
            <translation>serial terminal</translation>
        </message>
        <message>
            <source>permission</source>
            <translation>permission</translation>
        </message>
        <message>
            <source>not in use</source>
            <translation>not in use</translation>
        </message>
        <message>
            <source>stable name</source>
            <translation>stable name</translation>
        </message>
        <message>
            <source>ModemManager</source>
            <translation>ModemManager</translation>
        </message>
        <message>
            <source>brltty</source>
            <translation>brltty</translation>
        </message>
        <message>
            <source>latency timer</source>
            <translation>latency timer</translation>
        </message>
        <message>
            <source>monitor files</source>
            <translation>monitor files</translation>
        </message>
        <message>
            <source>download image</source>
            <translation>download image</translation>
        </message>
    </context>
    <context>
        <name>EngineerPin</name>
        <message>
            <source>ENGINEER PIN</source>
            <translation>ENGINEER PIN</translation>
        </message>
        <message>
            <source>Engineer PIN for %1:</source>
            <translation>Engineer PIN for %1:</translation>
        </message>
        <message>
            <source>Wrong PIN. Attempts left: %1.</source>
            <translation>Wrong PIN. Attempts left: %1.</translation>
        </message>
        <message>
            <source>Too many wrong PINs: locked for %1 s.</source>
            <translation>Too many wrong PINs: locked for %1 s.</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>OK</translation>
        </message>
        <message>
            <source>CANCEL</source>
            <translation>CANCEL</translation>
        </message>
        <message>
            <source>New PIN (%1 to %2 characters; empty removes the PIN):</source>
            <translation>New PIN (%1 to %2 characters; empty removes the PIN):</translation>
        </message>
        <message>
            <source>Repeat the new PIN:</source>
            <translation>Repeat the new PIN:</translation>
        </message>
        <message>
            <source>The two PINs differ.</source>
            <translation>The two PINs differ.</translation>
        </message>
        <message>
            <source>A PIN has %1 to %2 digits.</source>
            <translation>A PIN has %1 to %2 digits.</translation>
        </message>
        <message>
            <source>Engineer PIN set: COMPORT SETTING, FILE OPEN, continuous mode and the sound setting ask for it.</source>
            <translation>Engineer PIN set: COMPORT SETTING, FILE OPEN, continuous mode and the sound setting ask for it.</translation>
        </message>
        <message>
            <source>Engineer PIN removed.</source>
            <translation>Engineer PIN removed.</translation>
        </message>
        <message>
            <source>Engineer PIN not stored: %1</source>
            <translation>Engineer PIN not stored: %1</translation>
        </message>
        <message>
            <source>COMPORT SETTING</source>
            <translation>COMPORT SETTING</translation>
        </message>
        <message>
            <source>FILE OPEN</source>
            <translation>FILE OPEN</translation>
        </message>
        <message>
            <source>the sound setting</source>
            <translation>the sound setting</translation>
        </message>
        <message>
            <source>continuous mode</source>
            <translation>continuous mode</translation>
        </message>
        <message>
            <source>changing the PIN</source>
            <translation>changing the PIN</translation>
        </message>
    </context>
    <context>
        <name>MainFrame</name>
        <message>
            <source>Orvane Program Ver 1.3</source>
            <translation>Orvane Program Ver 1.3</translation>
        </message>
    </context>
    <context>
        <name>Menu</name>
        <message>
            <source>File(&amp;F)</source>
            <translation>&amp;File</translation>
        </message>
        <message>
            <source>Main S/W Open(&amp;O)...	Ctrl+O</source>
            <translation>&amp;Open Main Software...	Ctrl+O</translation>
        </message>
        <message>
            <source>Exit(&amp;X)</source>
            <translation>E&amp;xit</translation>
        </message>
        <message>
            <source>Help(&amp;H)</source>
            <translation>&amp;Help</translation>
        </message>
        <message>
            <source>Tarvo Infomation(&amp;A)...</source>
            <translation>&amp;About Tarvo...</translation>
        </message>
        <message>
            <source>Open Main Software
Open</source>
            <translation>Open Main Software
Open</translation>
        </message>
        <message>
            <source>Exit the Program
Exit</source>
            <translation>Exit the Program
Exit</translation>
        </message>
        <message>
            <source>프로그램 정보, 버전 및 저작권을 표시합니다.
정보</source>
            <translation>Show the program information, version and copyright
About</translation>
        </message>
        <message>
            <source>Settings(&amp;S)</source>
            <translation>&amp;Settings</translation>
        </message>
        <message>
            <source>Language(&amp;L)</source>
            <translation>&amp;Language</translation>
        </message>
        <message>
            <source>Form texts (default)</source>
            <translation>Form texts (default)</translation>
        </message>
        <message>
            <source>Show the window in another language
Language</source>
            <translation>Show the window in another language
Language</translation>
        </message>
        <message>
            <source>Sound on results(&amp;U)</source>
            <translation>So&amp;und on results</translation>
        </message>
        <message>
            <source>A short sound when a row ends: one for PASS, another for FAIL or ERROR
Sound</source>
            <translation>A short sound when a row ends: one for PASS, another for FAIL or ERROR
Sound</translation>
        </message>
        <message>
            <source>Engineer PIN(&amp;P)...</source>
            <translation>Engineer &amp;PIN...</translation>
        </message>
        <message>
            <source>Set, change or remove the PIN that guards the station's settings
Engineer PIN</source>
            <translation>Set, change or remove the PIN that guards the station's settings
Engineer PIN</translation>
        </message>
        <message>
            <source>Station(&amp;T)</source>
            <translation>S&amp;tation</translation>
        </message>
        <message>
            <source>Continuous(&amp;C)</source>
            <translation>&amp;Continuous</translation>
        </message>
        <message>
            <source>Every enabled row flashes each new handset on its own: it waits for its device, runs, and re-arms when the device has gone and come back
Continuous runs</source>
            <translation>Every enabled row flashes each new handset on its own: it waits for its device, runs, and re-arms when the device has gone and come back
Continuous runs</translation>
        </message>
        <message>
            <source>Preflight check(&amp;K)...</source>
            <translation>Preflight chec&amp;k...</translation>
        </message>
        <message>
            <source>Check the rows' devices and the station's files, with a fix for every problem
Preflight check</source>
            <translation>Check the rows' devices and the station's files, with a fix for every problem
Preflight check</translation>
        </message>
    </context>
    <context>
        <name>PortDialog</name>
        <message>
            <source>COM PORT SETTING</source>
            <translation>COM PORT SETTING</translation>
        </message>
        <message>
            <source>Com Port Setting</source>
            <translation>Com Port Setting</translation>
        </message>
        <message>
            <source>PORT 1</source>
            <translation>PORT 1</translation>
        </message>
        <message>
            <source>PORT 2</source>
            <translation>PORT 2</translation>
        </message>
        <message>
            <source>PORT 3</source>
            <translation>PORT 3</translation>
        </message>
        <message>
            <source>PORT 4</source>
            <translation>PORT 4</translation>
        </message>
        <message>
            <source>PORT 5</source>
            <translation>PORT 5</translation>
        </message>
        <message>
            <source>PORT 6</source>
            <translation>PORT 6</translation>
        </message>
        <message>
            <source>PORT 7</source>
            <translation>PORT 7</translation>
        </message>
        <message>
            <source>PORT 8</source>
            <translation>PORT 8</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>OK</translation>
        </message>
        <message>
            <source>CANCEL</source>
            <translation>CANCEL</translation>
        </message>
        <message>
            <source>default %1</source>
            <translation>default %1</translation>
        </message>
        <message>
            <source>Serial device of COM%1 (row %2). Empty: %3</source>
            <translation>Serial device of COM%1 (row %2). Empty: %3</translation>
        </message>
    </context>
    <context>
        <name>Station</name>
        <message>
            <source>NOT STARTED - RECORD NOT WRITTEN</source>
            <translation>NOT STARTED - RECORD NOT WRITTEN</translation>
        </message>
        <message>
            <source>HANDSET PLUGGED AT START - CLICK OR REPLUG</source>
            <translation>HANDSET PLUGGED AT START - CLICK OR REPLUG</translation>
        </message>
        <message>
            <source>Run ended without a result</source>
            <translation>Run ended without a result</translation>
        </message>
        <message>
            <source>CLOSE</source>
            <translation>CLOSE</translation>
        </message>
        <message>
            <source>READY</source>
            <translation>READY</translation>
        </message>
        <message>
            <source>ERASE</source>
            <translation>ERASE</translation>
        </message>
        <message>
            <source>DOWNLOAD</source>
            <translation>DOWNLOAD</translation>
        </message>
        <message>
            <source>COMPLETE</source>
            <translation>COMPLETE</translation>
        </message>
        <message>
            <source>ERROR</source>
            <translation>ERROR</translation>
        </message>
        <message>
            <source>INSERT TARGET</source>
            <translation>INSERT TARGET</translation>
        </message>
        <message>
            <source>Serial Port Open Failed...</source>
            <translation>Serial Port Open Failed...</translation>
        </message>
        <message>
            <source>Erasing...</source>
            <translation>Erasing...</translation>
        </message>
        <message>
            <source>Downloading : %1 %</source>
            <translation>Downloading : %1 %</translation>
        </message>
        <message>
            <source>All Files (*.m0)</source>
            <translation>All Files (*.m0)</translation>
        </message>
        <message>
            <source>Main software not converted: </source>
            <translation>Main software not converted: </translation>
        </message>
        <message>
            <source>NO DEVICE - PLUG IN THE NEXT HANDSET</source>
            <translation>NO DEVICE - PLUG IN THE NEXT HANDSET</translation>
        </message>
    </context>
    <context>
        <name>StationForm</name>
        <message>
            <source>STATUS</source>
            <translation>STATUS</translation>
        </message>
        <message>
            <source>PORT</source>
            <translation>PORT</translation>
        </message>
        <message>
            <source>MESSAGE</source>
            <translation>MESSAGE</translation>
        </message>
        <message>
            <source>PROGRESS</source>
            <translation>PROGRESS</translation>
        </message>
        <message>
            <source>SETUP</source>
            <translation>SETUP</translation>
        </message>
        <message>
            <source>COMPORT SETTING</source>
            <translation>COMPORT SETTING</translation>
        </message>
        <message>
            <source>COMPORT OPEN/CLOSE ALL</source>
            <translation>COMPORT OPEN/CLOSE ALL</translation>
        </message>
        <message>
            <source>FILE OPEN</source>
            <translation>FILE OPEN</translation>
        </message>
        <message>
            <source>EXIT</source>
            <translation>EXIT</translation>
        </message>
    </context>
    <context>
        <name>StatusBar</name>
        <message>
            <source>READY</source>
            <translation>READY</translation>
        </message>
        <message>
            <source>This is Orvane program for production and GSM Developers. Support: +00 0000 0000</source>
            <translation>This is Orvane program for production and GSM Developers. Support: +00 0000 0000</translation>
        </message>
        <message>
            <source>CAP</source>
            <translation>CAP</translation>
        </message>
        <message>
            <source>NUM</source>
            <translation>NUM</translation>
        </message>
        <message>
            <source>SCRL</source>
            <translation>SCRL</translation>
        </message>
        <message>
            <source>When you have troubles, call us. Thank You. Kelvor(+00 0000 0000) !!! </source>
            <translation>When you have troubles, call us. Thank You. Kelvor(+00 0000 0000) !!! </translation>
        </message>
    </context>
    <context>
        <name>UnitLabel</name>
        <message>
            <source>Unit label: %1</source>
            <translation>Unit label: %1</translation>
        </message>
        <message>
            <source>Unit label %1 for row %2.</source>
            <translation>Unit label %1 for row %2.</translation>
        </message>
        <message>
            <source>Unit label %1 not used: no armed row without a label. Select a row first.</source>
            <translation>Unit label %1 not used: no armed row without a label. Select a row first.</translation>
        </message>
        <message>
            <source>Unit label not used: longer than %1 characters.</source>
            <translation>Unit label not used: longer than %1 characters.</translation>
        </message>
        <message>
            <source>Unit label of row %1: %2</source>
            <translation>Unit label of row %1: %2</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CComPortSet</name>
        <message>
            <source>Nothing plugged in at %1</source>
            <translation>Nothing plugged in at %1</translation>
        </message>
        <message>
            <source>Now: %1, %2</source>
            <translation>Now: %1, %2</translation>
        </message>
        <message>
            <source>Now: %1</source>
            <translation>Now: %1</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CDoctorReport</name>
        <message>
            <source>Preflight check</source>
            <translation>Preflight check</translation>
        </message>
        <message>
            <source>Check again</source>
            <translation>Check again</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>OK</translation>
        </message>
        <message>
            <source>FAIL</source>
            <translation>FAIL</translation>
        </message>
        <message>
            <source>Nothing wrong found.</source>
            <translation>Nothing wrong found.</translation>
        </message>
        <message numerus="yes">
            <source>%n problem(s) found: see the lines in red and their fixes.</source>
            <translation>
                <numerusform>%n problem found: see the line in red and its fix.</numerusform>
                <numerusform>%n problems found: see the lines in red and their fixes.</numerusform>
            </translation>
        </message>
        <message>
            <source>Show passed checks</source>
            <translation>Show passed checks</translation>
        </message>
        <message>
            <source>Station files</source>
            <translation>Station files</translation>
        </message>
        <message>
            <source>Fix:</source>
            <translation>Fix:</translation>
        </message>
        <message numerus="yes">
            <source>OK: %n check(s) passed</source>
            <translation>
                <numerusform>OK: %n check passed</numerusform>
                <numerusform>OK: %n checks passed</numerusform>
            </translation>
        </message>
        <message numerus="yes">
            <source>%n problem(s)</source>
            <translation>
                <numerusform>%n problem</numerusform>
                <numerusform>%n problems</numerusform>
            </translation>
        </message>
    </context>
    <context>
        <name>tarvo::CMainFrame</name>
        <message>
            <source>%1, %2 set aside</source>
            <translation>%1, %2 set aside</translation>
        </message>
        <message>
            <source>Line DB: %1 waiting — %2 since %3</source>
            <translation>Line DB: %1 waiting — %2 since %3</translation>
        </message>
        <message>
            <source>Line DB: %1 waiting</source>
            <translation>Line DB: %1 waiting</translation>
        </message>
        <message>
            <source>Finished records not yet in the line database</source>
            <translation>Finished records not yet in the line database</translation>
        </message>
        <message>
            <source>Production record(&amp;R)...</source>
            <translation>Production record(&amp;R)...</translation>
        </message>
        <message>
            <source>Show the record of every run of this station</source>
            <translation>Show the record of every run of this station</translation>
        </message>
        <message>
            <source>Runs, PASS and FAIL of this station since start-up</source>
            <translation>Runs, PASS and FAIL of this station since start-up</translation>
        </message>
        <message>
            <source>Recording is off (profile "Record"/"Enabled"=0)</source>
            <translation>Recording is off (profile "Record"/"Enabled"=0)</translation>
        </message>
        <message>
            <source>Record not written: %1. No row starts until it works again.</source>
            <translation>Record not written: %1. No row starts until it works again.</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CRecordDialog</name>
        <message>
            <source>Production record</source>
            <translation>Production record</translation>
        </message>
        <message>
            <source>Today</source>
            <translation>Today</translation>
        </message>
        <message>
            <source>All ports</source>
            <translation>All ports</translation>
        </message>
        <message>
            <source>COM%1</source>
            <translation>COM%1</translation>
        </message>
        <message>
            <source>Failures only</source>
            <translation>Failures only</translation>
        </message>
        <message>
            <source>Refresh</source>
            <translation>Refresh</translation>
        </message>
        <message>
            <source>Export CSV...</source>
            <translation>Export CSV...</translation>
        </message>
        <message numerus="yes">
            <source>%n record(s) shown, newest first.</source>
            <translation>
                <numerusform>%n record shown, newest first.</numerusform>
                <numerusform>%n records shown, newest first.</numerusform>
            </translation>
        </message>
        <message>
            <source>Export the production record</source>
            <translation>Export the production record</translation>
        </message>
        <message>
            <source>CSV files (*.csv)</source>
            <translation>CSV files (*.csv)</translation>
        </message>
        <message>
            <source>Exported to %1.</source>
            <translation>Exported to %1.</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CRecordModel</name>
        <message>
            <source>yes</source>
            <translation>yes</translation>
        </message>
        <message>
            <source>waiting</source>
            <translation>waiting</translation>
        </message>
        <message>
            <source>Reason</source>
            <translation>Reason</translation>
        </message>
        <message>
            <source>Line DB</source>
            <translation>Line DB</translation>
        </message>
        <message>
            <source>Started</source>
            <translation>Started</translation>
        </message>
        <message>
            <source>Port</source>
            <translation>Port</translation>
        </message>
        <message>
            <source>Result</source>
            <translation>Result</translation>
        </message>
        <message>
            <source>Status</source>
            <translation>Status</translation>
        </message>
        <message>
            <source>Unit</source>
            <translation>Unit</translation>
        </message>
        <message>
            <source>Message</source>
            <translation>Message</translation>
        </message>
        <message>
            <source>Total (ms)</source>
            <translation>Total (ms)</translation>
        </message>
        <message>
            <source>Image</source>
            <translation>Image</translation>
        </message>
        <message>
            <source>Station</source>
            <translation>Station</translation>
        </message>
        <message>
            <source>Run</source>
            <translation>Run</translation>
        </message>
        <message>
            <source>set aside: %1</source>
            <translation>set aside: %1</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CTarvoView</name>
        <message>
            <source>COM%1 not started: the run could not be recorded (%2)</source>
            <translation>COM%1 not started: the run could not be recorded (%2)</translation>
        </message>
        <message>
            <source>Runs %1  PASS %2  FAIL %3  ERROR %4</source>
            <translation>Runs %1  PASS %2  FAIL %3  ERROR %4</translation>
        </message>
        <message>
            <source>COM%1: the run ended without a result (the handset refused the identify or the device was lost before it answered)</source>
            <translation>COM%1: the run ended without a result (the handset refused the identify or the device was lost before it answered)</translation>
        </message>
        <message>
            <source>next: %1</source>
            <translation>next: %1</translation>
        </message>
        <message>
            <source>For the row&apos;s next run</source>
            <translation>For the row&apos;s next run</translation>
        </message>
        <message>
            <source>For the run in progress</source>
            <translation>For the run in progress</translation>
        </message>
        <message>
            <source>Unit label %1 for the next run of row %2.</source>
            <translation>Unit label %1 for the next run of row %2.</translation>
        </message>
        <message>
            <source>Scanner input %1 was not taken in the dialog: close it and scan again</source>
            <translation>Scanner input %1 was not taken in the dialog: close it and scan again</translation>
        </message>
        <message>
            <source>COM%1 not started: the production record cannot be written (%2)</source>
            <translation>COM%1 not started: the production record cannot be written (%2)</translation>
        </message>
        <message>
            <source>COM%1: %2 PASS, %3 FAIL since start-up</source>
            <translation>COM%1: %2 PASS, %3 FAIL since start-up</translation>
        </message>
        <message>
            <source>The status server is off: %1</source>
            <translation>The status server is off: %1</translation>
        </message>
        <message>
            <source>Checking approval</source>
            <translation>Checking approval</translation>
        </message>
        <message>
            <source>%1 (%2)</source>
            <translation>%1 (%2)</translation>
        </message>
        <message>
            <source>COM%1: %2 (%3)</source>
            <translation>COM%1: %2 (%3)</translation>
        </message>
        <message>
            <source>No image</source>
            <translation>No image</translation>
        </message>
        <message>
            <source>No download image: the main software was not converted: %1</source>
            <translation>No download image: the main software was not converted: %1</translation>
        </message>
        <message>
            <source>No image chosen</source>
            <translation>No image chosen</translation>
        </message>
        <message>
            <source>No download image chosen: choose the main software file with FILE OPEN.</source>
            <translation>No download image chosen: choose the main software file with FILE OPEN.</translation>
        </message>
        <message>
            <source>Image missing</source>
            <translation>Image missing</translation>
        </message>
        <message>
            <source>The download image %1 is missing: choose the main software file with FILE OPEN.</source>
            <translation>The download image %1 is missing: choose the main software file with FILE OPEN.</translation>
        </message>
        <message>
            <source>Image unreadable</source>
            <translation>Image unreadable</translation>
        </message>
        <message>
            <source>The download image %1 cannot be read: %2.</source>
            <translation>The download image %1 cannot be read: %2.</translation>
        </message>
        <message>
            <source>Not an image</source>
            <translation>Not an image</translation>
        </message>
        <message>
            <source>The download image %1 is not a regular file.</source>
            <translation>The download image %1 is not a regular file.</translation>
        </message>
        <message>
            <source>Image empty</source>
            <translation>Image empty</translation>
        </message>
        <message>
            <source>The download image %1 is empty.</source>
            <translation>The download image %1 is empty.</translation>
        </message>
        <message>
            <source>The download image %1 is not a download image.</source>
            <translation>The download image %1 is not a download image.</translation>
        </message>
    </context>
    <context>
        <name>Profile</name>
        <message>
            <source>set by the administrator in %1</source>
            <translation>set by the administrator in %1</translation>
        </message>
        <message>
            <source>The administrator&apos;s settings %1 cannot be read (%2).</source>
            <translation>The administrator&apos;s settings %1 cannot be read (%2).</translation>
        </message>
        <message>
            <source>The administrator&apos;s settings %1 are corrupt.</source>
            <translation>The administrator&apos;s settings %1 are corrupt.</translation>
        </message>
        <message>
            <source>it is a folder</source>
            <translation>it is a folder</translation>
        </message>
        <message>
            <source>The settings file %1 cannot be read (%2): the station starts without its rows and image.</source>
            <translation>The settings file %1 cannot be read (%2): the station starts without its rows and image.</translation>
        </message>
        <message>
            <source>The settings file %1 is corrupt: the rows and the image cannot be read from it. Check or delete the file.</source>
            <translation>The settings file %1 is corrupt: the rows and the image cannot be read from it. Check or delete the file.</translation>
        </message>
        <message>
            <source>access denied</source>
            <translation>access denied</translation>
        </message>
        <message>
            <source>%1 is not a folder</source>
            <translation>%1 is not a folder</translation>
        </message>
        <message>
            <source>the file is read-only</source>
            <translation>the file is read-only</translation>
        </message>
        <message>
            <source>its folder is read-only</source>
            <translation>its folder is read-only</translation>
        </message>
        <message>
            <source>Settings not saved: %1 cannot be written (%2).</source>
            <translation>Settings not saved: %1 cannot be written (%2).</translation>
        </message>
    </context>
</TS>
