<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ko_KR">
    <context>
        <name>AboutBox</name>
        <message>
            <source>Tarvo 정보</source>
            <translation>Tarvo 정보</translation>
        </message>
        <message>
            <source>Tarvo 버전 1.3</source>
            <translation>Tarvo 버전 1.3</translation>
        </message>
        <message>
            <source>8포트 생산용 다운로드 스테이션</source>
            <translation>8포트 생산용 다운로드 스테이션</translation>
        </message>
        <message>
            <source>확인</source>
            <translation>확인</translation>
        </message>
    </context>
    <context>
        <name>Doctor</name>
        <message>
            <source>%1: line %2 is not an S-record</source>
            <translation>%1: %2번째 줄이 S-레코드가 아닙니다</translation>
        </message>
        <message>
            <source>%1: read error</source>
            <translation>%1: 읽기 오류</translation>
        </message>
        <message>
            <source>%1: no S-records</source>
            <translation>%1: S-레코드가 없습니다</translation>
        </message>
        <message>
            <source>%1: line %2 has a wrong checksum</source>
            <translation>%1: %2번째 줄의 체크섬이 틀립니다</translation>
        </message>
        <message>
            <source>%1: no image blocks</source>
            <translation>%1: 이미지 블록이 없습니다</translation>
        </message>
        <message>
            <source>%1 does not exist (%2)</source>
            <translation>%1이(가) 없습니다 (%2)</translation>
        </message>
        <message>
            <source>plug in the adapter; its number may have changed: choose its /dev/serial/by-path name</source>
            <translation>어댑터를 연결하세요. 장치 번호가 바뀌었을 수 있으니 /dev/serial/by-path 이름을 선택하세요</translation>
        </message>
        <message>
            <source>plug in the adapter or the handset's cable, or choose another device for COM%1</source>
            <translation>어댑터나 단말기 케이블을 연결하거나 COM%1에 다른 장치를 선택하세요</translation>
        </message>
        <message>
            <source>%1 -&gt; %2 exists</source>
            <translation>%1 -&gt; %2 있음</translation>
        </message>
        <message>
            <source>%1 exists</source>
            <translation>%1 있음</translation>
        </message>
        <message>
            <source>%1 is a character device that is not a terminal</source>
            <translation>%1은(는) 터미널이 아닌 문자 장치입니다</translation>
        </message>
        <message>
            <source>%1 is not a character device</source>
            <translation>%1은(는) 문자 장치가 아닙니다</translation>
        </message>
        <message>
            <source>%1 is a terminal</source>
            <translation>%1은(는) 터미널입니다</translation>
        </message>
        <message>
            <source>choose a serial device (/dev/ttyUSBn, /dev/ttyACMn, /dev/ttySn or a /dev/serial link) for COM%1</source>
            <translation>COM%1에 시리얼 장치(/dev/ttyUSBn, /dev/ttyACMn, /dev/ttySn 또는 /dev/serial 링크)를 선택하세요</translation>
        </message>
        <message>
            <source>user %1 may read and write %2 (%3)</source>
            <translation>사용자 %1은(는) %2을(를) 읽고 쓸 수 있습니다 (%3)</translation>
        </message>
        <message>
            <source>user %1 may not read and write %2 (%3)</source>
            <translation>사용자 %1은(는) %2을(를) 읽고 쓸 수 없습니다 (%3)</translation>
        </message>
        <message>
            <source>add the user to the %1 group: sudo usermod -aG %1 %2, then log in again</source>
            <translation>사용자를 %1 그룹에 추가한 뒤 다시 로그인하세요: sudo usermod -aG %1 %2</translation>
        </message>
        <message>
            <source>give the device to the dialout group (install the station's udev rule) and add the user to it: sudo usermod -aG dialout %1</source>
            <translation>장치를 dialout 그룹에 주고(스테이션의 udev 규칙 설치) 사용자를 그 그룹에 추가하세요: sudo usermod -aG dialout %1</translation>
        </message>
        <message>
            <source>%1 is held by %2</source>
            <translation>%1을(를) %2이(가) 사용 중입니다</translation>
        </message>
        <message>
            <source>close %1 (a terminal program or another station), or choose another device</source>
            <translation>%1(터미널 프로그램 또는 다른 스테이션)을(를) 닫거나 다른 장치를 선택하세요</translation>
        </message>
        <message>
            <source>%1 is opened exclusively by another program</source>
            <translation>다른 프로그램이 %1을(를) 독점적으로 열고 있습니다</translation>
        </message>
        <message>
            <source>close the other program (a terminal program or another station), or choose another device</source>
            <translation>다른 프로그램(터미널 프로그램 또는 다른 스테이션)을 닫거나 다른 장치를 선택하세요</translation>
        </message>
        <message>
            <source>no other program holds %1</source>
            <translation>%1을(를) 사용하는 다른 프로그램이 없습니다</translation>
        </message>
        <message>
            <source>%1 changes with plugging order; its socket's stable name is %2</source>
            <translation>%1은(는) 연결 순서에 따라 바뀝니다. 이 소켓의 고정 이름은 %2입니다</translation>
        </message>
        <message>
            <source>use %1 for COM%2</source>
            <translation>COM%2에 %1을(를) 사용하세요</translation>
        </message>
        <message>
            <source>%1 has no /dev/serial/by-path name to use instead</source>
            <translation>%1에는 대신 쓸 /dev/serial/by-path 이름이 없습니다</translation>
        </message>
        <message>
            <source>%1 is a stable name</source>
            <translation>%1은(는) 고정 이름입니다</translation>
        </message>
        <message>
            <source>ModemManager (pid %1) runs and is told to ignore %2</source>
            <translation>ModemManager(pid %1)가 실행 중이며 %2을(를) 무시하도록 설정되어 있습니다</translation>
        </message>
        <message>
            <source>ModemManager (pid %1) runs and may probe %2, which disturbs the handset</source>
            <translation>ModemManager(pid %1)가 실행 중이며 %2을(를) 검사할 수 있어 단말기를 방해합니다</translation>
        </message>
        <message>
            <source>install the station's udev rule (tarvo package: /usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: sudo systemctl disable --now ModemManager</source>
            <translation>스테이션의 udev 규칙(tarvo 패키지: /usr/lib/udev/rules.d/60-tarvo.rules)을 설치하고 어댑터를 다시 연결하거나, 다음을 실행하세요: sudo systemctl disable --now ModemManager</translation>
        </message>
        <message>
            <source>ModemManager is not running</source>
            <translation>ModemManager가 실행 중이 아닙니다</translation>
        </message>
        <message>
            <source>brltty (pid %1) runs and can claim USB serial adapters such as %2 (%3)</source>
            <translation>brltty(pid %1)가 실행 중이며 %2(%3) 같은 USB 시리얼 어댑터를 가로챌 수 있습니다</translation>
        </message>
        <message>
            <source>remove the braille display daemon: sudo apt-get remove brltty (or: sudo systemctl mask brltty-udev.service)</source>
            <translation>점자 디스플레이 데몬을 제거하세요: sudo apt-get remove brltty (또는: sudo systemctl mask brltty-udev.service)</translation>
        </message>
        <message>
            <source>brltty runs but does not claim %1</source>
            <translation>brltty가 실행 중이지만 %1을(를) 가로채지 않습니다</translation>
        </message>
        <message>
            <source>brltty is not running</source>
            <translation>brltty가 실행 중이 아닙니다</translation>
        </message>
        <message>
            <source>cannot read the latency timer of %1</source>
            <translation>%1의 지연 타이머를 읽을 수 없습니다</translation>
        </message>
        <message>
            <source>check that the ftdi_sio driver serves %1</source>
            <translation>ftdi_sio 드라이버가 %1을(를) 담당하는지 확인하세요</translation>
        </message>
        <message>
            <source>FTDI latency timer of %1 is %2 ms</source>
            <translation>%1의 FTDI 지연 타이머는 %2 ms입니다</translation>
        </message>
        <message>
            <source>install the station's udev rule (tarvo package: /usr/lib/udev/rules.d/60-tarvo.rules), then replug the adapter, or: echo 1 | sudo tee %1</source>
            <translation>스테이션의 udev 규칙(tarvo 패키지: /usr/lib/udev/rules.d/60-tarvo.rules)을 설치하고 어댑터를 다시 연결하거나, 다음을 실행하세요: echo 1 | sudo tee %1</translation>
        </message>
        <message>
            <source>copy monitor_ul_bs.m0 and monitor_ul_bs.map of the handset's release into %1 and start the station there</source>
            <translation>단말기 릴리스의 monitor_ul_bs.m0와 monitor_ul_bs.map을 %1에 복사하고 그 폴더에서 스테이션을 시작하세요</translation>
        </message>
        <message>
            <source>%1 is missing</source>
            <translation>%1이(가) 없습니다</translation>
        </message>
        <message>
            <source>%1 is not a regular file</source>
            <translation>%1은(는) 일반 파일이 아닙니다</translation>
        </message>
        <message>
            <source>%1 is not readable (%2)</source>
            <translation>%1을(를) 읽을 수 없습니다 (%2)</translation>
        </message>
        <message>
            <source>%1: no "ENTRY POINT SYMBOL" line in its first 11 lines</source>
            <translation>%1: 처음 11줄에 "ENTRY POINT SYMBOL" 줄이 없습니다</translation>
        </message>
        <message>
            <source>monitor_ul_bs.m0 (%1 records) and monitor_ul_bs.map (run address %2) in %3</source>
            <translation>%3에 monitor_ul_bs.m0(레코드 %1개)와 monitor_ul_bs.map(실행 주소 %2) 있음</translation>
        </message>
        <message>
            <source>choose the main software file (.m0) in the station, or convert it: tarvo-cli convert FILE.m0</source>
            <translation>스테이션에서 메인 소프트웨어 파일(.m0)을 선택하거나 변환하세요: tarvo-cli convert FILE.m0</translation>
        </message>
        <message>
            <source>no main software image is stored in the profile</source>
            <translation>프로필에 저장된 메인 소프트웨어 이미지가 없습니다</translation>
        </message>
        <message>
            <source>%1 is empty</source>
            <translation>%1이(가) 비어 있습니다</translation>
        </message>
        <message>
            <source>%1 (%2 bytes, %3 blocks)</source>
            <translation>%1 (%2바이트, 블록 %3개)</translation>
        </message>
        <message>
            <source>device present</source>
            <translation>장치 존재</translation>
        </message>
        <message>
            <source>serial terminal</source>
            <translation>시리얼 터미널</translation>
        </message>
        <message>
            <source>permission</source>
            <translation>권한</translation>
        </message>
        <message>
            <source>not in use</source>
            <translation>사용 가능</translation>
        </message>
        <message>
            <source>stable name</source>
            <translation>고정 이름</translation>
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
            <translation>지연 타이머</translation>
        </message>
        <message>
            <source>monitor files</source>
            <translation>모니터 파일</translation>
        </message>
        <message>
            <source>download image</source>
            <translation>다운로드 이미지</translation>
        </message>
    </context>
    <context>
        <name>EngineerPin</name>
        <message>
            <source>ENGINEER PIN</source>
            <translation>엔지니어 PIN</translation>
        </message>
        <message>
            <source>Engineer PIN for %1:</source>
            <translation>%1: 엔지니어 PIN을 입력하세요</translation>
        </message>
        <message>
            <source>Wrong PIN. Attempts left: %1.</source>
            <translation>PIN이 틀렸습니다. 남은 시도: %1회.</translation>
        </message>
        <message>
            <source>Too many wrong PINs: locked for %1 s.</source>
            <translation>PIN을 너무 많이 틀렸습니다: %1초 동안 잠김.</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>확인</translation>
        </message>
        <message>
            <source>CANCEL</source>
            <translation>취소</translation>
        </message>
        <message>
            <source>New PIN (%1 to %2 characters; empty removes the PIN):</source>
            <translation>새 PIN (%1~%2자, 비워 두면 PIN 삭제):</translation>
        </message>
        <message>
            <source>Repeat the new PIN:</source>
            <translation>새 PIN 다시 입력:</translation>
        </message>
        <message>
            <source>The two PINs differ.</source>
            <translation>두 PIN이 서로 다릅니다.</translation>
        </message>
        <message>
            <source>A PIN has %1 to %2 digits.</source>
            <translation>PIN은 %1~%2자리 숫자입니다.</translation>
        </message>
        <message>
            <source>Engineer PIN set: COMPORT SETTING, FILE OPEN, continuous mode and the sound setting ask for it.</source>
            <translation>엔지니어 PIN 설정됨: 포트 설정, 파일 열기, 연속 모드, 소리 설정에서 PIN을 묻습니다.</translation>
        </message>
        <message>
            <source>Engineer PIN removed.</source>
            <translation>엔지니어 PIN이 삭제되었습니다.</translation>
        </message>
        <message>
            <source>Engineer PIN not stored: %1</source>
            <translation>엔지니어 PIN을 저장하지 못했습니다: %1</translation>
        </message>
        <message>
            <source>COMPORT SETTING</source>
            <translation>포트 설정</translation>
        </message>
        <message>
            <source>FILE OPEN</source>
            <translation>파일 열기</translation>
        </message>
        <message>
            <source>the sound setting</source>
            <translation>소리 설정</translation>
        </message>
        <message>
            <source>continuous mode</source>
            <translation>연속 모드</translation>
        </message>
        <message>
            <source>changing the PIN</source>
            <translation>PIN 변경</translation>
        </message>
    </context>
    <context>
        <name>MainFrame</name>
        <message>
            <source>Orvane Program Ver 1.3</source>
            <translation>Orvane 프로그램 버전 1.3</translation>
        </message>
    </context>
    <context>
        <name>Menu</name>
        <message>
            <source>File(&amp;F)</source>
            <translation>파일(&amp;F)</translation>
        </message>
        <message>
            <source>Main S/W Open(&amp;O)...	Ctrl+O</source>
            <translation>메인 S/W 열기(&amp;O)...	Ctrl+O</translation>
        </message>
        <message>
            <source>Exit(&amp;X)</source>
            <translation>끝내기(&amp;X)</translation>
        </message>
        <message>
            <source>Help(&amp;H)</source>
            <translation>도움말(&amp;H)</translation>
        </message>
        <message>
            <source>Tarvo Infomation(&amp;A)...</source>
            <translation>Tarvo 정보(&amp;A)...</translation>
        </message>
        <message>
            <source>Open Main Software
Open</source>
            <translation>메인 소프트웨어 파일을 엽니다
열기</translation>
        </message>
        <message>
            <source>Exit the Program
Exit</source>
            <translation>프로그램을 끝냅니다
끝내기</translation>
        </message>
        <message>
            <source>프로그램 정보, 버전 및 저작권을 표시합니다.
정보</source>
            <translation>프로그램 정보, 버전 및 저작권을 표시합니다.
정보</translation>
        </message>
        <message>
            <source>Settings(&amp;S)</source>
            <translation>설정(&amp;S)</translation>
        </message>
        <message>
            <source>Language(&amp;L)</source>
            <translation>언어(&amp;L)</translation>
        </message>
        <message>
            <source>Form texts (default)</source>
            <translation>기본 화면 문구</translation>
        </message>
        <message>
            <source>Show the window in another language
Language</source>
            <translation>창을 다른 언어로 표시합니다
언어</translation>
        </message>
        <message>
            <source>Sound on results(&amp;U)</source>
            <translation>결과 알림음(&amp;U)</translation>
        </message>
        <message>
            <source>A short sound when a row ends: one for PASS, another for FAIL or ERROR
Sound</source>
            <translation>행이 끝나면 짧은 소리를 냅니다: PASS와 FAIL/ERROR에 서로 다른 소리
소리</translation>
        </message>
        <message>
            <source>Engineer PIN(&amp;P)...</source>
            <translation>엔지니어 PIN(&amp;P)...</translation>
        </message>
        <message>
            <source>Set, change or remove the PIN that guards the station's settings
Engineer PIN</source>
            <translation>스테이션 설정을 보호하는 PIN을 설정, 변경 또는 삭제합니다
엔지니어 PIN</translation>
        </message>
        <message>
            <source>Station(&amp;T)</source>
            <translation>스테이션(&amp;T)</translation>
        </message>
        <message>
            <source>Continuous(&amp;C)</source>
            <translation>연속 실행(&amp;C)</translation>
        </message>
        <message>
            <source>Every enabled row flashes each new handset on its own: it waits for its device, runs, and re-arms when the device has gone and come back
Continuous runs</source>
            <translation>사용하는 각 행이 새 단말기마다 스스로 다운로드합니다: 장치를 기다렸다가 실행하고, 장치가 빠졌다가 다시 연결되면 다시 준비합니다
연속 실행</translation>
        </message>
        <message>
            <source>Preflight check(&amp;K)...</source>
            <translation>사전 점검(&amp;K)...</translation>
        </message>
        <message>
            <source>Check the rows' devices and the station's files, with a fix for every problem
Preflight check</source>
            <translation>각 행의 장치와 스테이션 파일을 점검하고 문제마다 해결 방법을 알려 줍니다
사전 점검</translation>
        </message>
    </context>
    <context>
        <name>PortDialog</name>
        <message>
            <source>COM PORT SETTING</source>
            <translation>포트 설정</translation>
        </message>
        <message>
            <source>Com Port Setting</source>
            <translation>포트 설정</translation>
        </message>
        <message>
            <source>PORT 1</source>
            <translation>포트 1</translation>
        </message>
        <message>
            <source>PORT 2</source>
            <translation>포트 2</translation>
        </message>
        <message>
            <source>PORT 3</source>
            <translation>포트 3</translation>
        </message>
        <message>
            <source>PORT 4</source>
            <translation>포트 4</translation>
        </message>
        <message>
            <source>PORT 5</source>
            <translation>포트 5</translation>
        </message>
        <message>
            <source>PORT 6</source>
            <translation>포트 6</translation>
        </message>
        <message>
            <source>PORT 7</source>
            <translation>포트 7</translation>
        </message>
        <message>
            <source>PORT 8</source>
            <translation>포트 8</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>확인</translation>
        </message>
        <message>
            <source>CANCEL</source>
            <translation>취소</translation>
        </message>
        <message>
            <source>default %1</source>
            <translation>기본값 %1</translation>
        </message>
        <message>
            <source>Serial device of COM%1 (row %2). Empty: %3</source>
            <translation>COM%1(%2행)의 시리얼 장치. 비워 두면: %3</translation>
        </message>
    </context>
    <context>
        <name>Station</name>
        <message>
            <source>NOT STARTED - RECORD NOT WRITTEN</source>
            <translation>시작 안 함 - 기록을 저장하지 못함</translation>
        </message>
        <message>
            <source>HANDSET PLUGGED AT START - CLICK OR REPLUG</source>
            <translation>시작 시 연결된 단말기 - 클릭하거나 다시 연결하세요</translation>
        </message>
        <message>
            <source>Run ended without a result</source>
            <translation>결과 없이 작업이 끝났습니다</translation>
        </message>
        <message>
            <source>CLOSE</source>
            <translation>닫힘</translation>
        </message>
        <message>
            <source>READY</source>
            <translation>준비</translation>
        </message>
        <message>
            <source>ERASE</source>
            <translation>지우기</translation>
        </message>
        <message>
            <source>DOWNLOAD</source>
            <translation>다운로드</translation>
        </message>
        <message>
            <source>COMPLETE</source>
            <translation>완료</translation>
        </message>
        <message>
            <source>ERROR</source>
            <translation>오류</translation>
        </message>
        <message>
            <source>INSERT TARGET</source>
            <translation>단말기를 연결하세요</translation>
        </message>
        <message>
            <source>Serial Port Open Failed...</source>
            <translation>시리얼 포트 열기 실패...</translation>
        </message>
        <message>
            <source>Erasing...</source>
            <translation>지우는 중...</translation>
        </message>
        <message>
            <source>Downloading : %1 %</source>
            <translation>다운로드 중 : %1 %</translation>
        </message>
        <message>
            <source>All Files (*.m0)</source>
            <translation>모든 파일 (*.m0)</translation>
        </message>
        <message>
            <source>Main software not converted: </source>
            <translation>메인 소프트웨어를 변환하지 못했습니다: </translation>
        </message>
        <message>
            <source>NO DEVICE - PLUG IN THE NEXT HANDSET</source>
            <translation>장치 없음 - 다음 단말기를 연결하세요</translation>
        </message>
    </context>
    <context>
        <name>StationForm</name>
        <message>
            <source>STATUS</source>
            <translation>상태</translation>
        </message>
        <message>
            <source>PORT</source>
            <translation>포트</translation>
        </message>
        <message>
            <source>MESSAGE</source>
            <translation>메시지</translation>
        </message>
        <message>
            <source>PROGRESS</source>
            <translation>진행</translation>
        </message>
        <message>
            <source>SETUP</source>
            <translation>설정</translation>
        </message>
        <message>
            <source>COMPORT SETTING</source>
            <translation>포트 설정</translation>
        </message>
        <message>
            <source>COMPORT OPEN/CLOSE ALL</source>
            <translation>포트 모두 열기/닫기</translation>
        </message>
        <message>
            <source>FILE OPEN</source>
            <translation>파일 열기</translation>
        </message>
        <message>
            <source>EXIT</source>
            <translation>종료</translation>
        </message>
    </context>
    <context>
        <name>StatusBar</name>
        <message>
            <source>READY</source>
            <translation>준비</translation>
        </message>
        <message>
            <source>This is Orvane program for production and GSM Developers. Support: +00 0000 0000</source>
            <translation>생산 및 GSM 개발자를 위한 Orvane 프로그램입니다. 지원: +00 0000 0000</translation>
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
            <translation>문제가 있으면 연락해 주십시오. 감사합니다. Kelvor(+00 0000 0000) !!! </translation>
        </message>
    </context>
    <context>
        <name>UnitLabel</name>
        <message>
            <source>Unit label: %1</source>
            <translation>단말기 라벨: %1</translation>
        </message>
        <message>
            <source>Unit label %1 for row %2.</source>
            <translation>단말기 라벨 %1 → %2행.</translation>
        </message>
        <message>
            <source>Unit label %1 not used: no armed row without a label. Select a row first.</source>
            <translation>단말기 라벨 %1 사용 안 함: 라벨 없는 대기 행이 없습니다. 먼저 행을 선택하세요.</translation>
        </message>
        <message>
            <source>Unit label not used: longer than %1 characters.</source>
            <translation>단말기 라벨 사용 안 함: %1자를 넘습니다.</translation>
        </message>
        <message>
            <source>Unit label of row %1: %2</source>
            <translation>%1행의 단말기 라벨: %2</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CComPortSet</name>
        <message>
            <source>Nothing plugged in at %1</source>
            <translation>%1에 연결된 장치가 없습니다</translation>
        </message>
        <message>
            <source>Now: %1, %2</source>
            <translation>현재: %1, %2</translation>
        </message>
        <message>
            <source>Now: %1</source>
            <translation>현재: %1</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CDoctorReport</name>
        <message>
            <source>Preflight check</source>
            <translation>사전 점검</translation>
        </message>
        <message>
            <source>Check again</source>
            <translation>다시 점검</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>정상</translation>
        </message>
        <message>
            <source>FAIL</source>
            <translation>실패</translation>
        </message>
        <message>
            <source>Nothing wrong found.</source>
            <translation>문제가 없습니다.</translation>
        </message>
        <message numerus="yes">
            <source>%n problem(s) found: see the lines in red and their fixes.</source>
            <translation>
                <numerusform>문제 %n개 발견: 빨간 줄과 조치를 확인하세요.</numerusform>
            </translation>
        </message>
        <message>
            <source>Show passed checks</source>
            <translation>통과한 점검 항목 보기</translation>
        </message>
        <message>
            <source>Station files</source>
            <translation>스테이션 파일</translation>
        </message>
        <message>
            <source>Fix:</source>
            <translation>조치:</translation>
        </message>
        <message numerus="yes">
            <source>OK: %n check(s) passed</source>
            <translation>
                <numerusform>정상: 점검 %n개 통과</numerusform>
            </translation>
        </message>
        <message numerus="yes">
            <source>%n problem(s)</source>
            <translation>
                <numerusform>문제 %n개</numerusform>
            </translation>
        </message>
    </context>
    <context>
        <name>tarvo::CMainFrame</name>
        <message>
            <source>%1, %2 set aside</source>
            <translation>%1건, 보류 %2건</translation>
        </message>
        <message>
            <source>Line DB: %1 waiting — %2 since %3</source>
            <translation>라인 DB: %1건 대기 — %3부터 %2</translation>
        </message>
        <message>
            <source>Line DB: %1 waiting</source>
            <translation>라인 DB: %1건 대기</translation>
        </message>
        <message>
            <source>Finished records not yet in the line database</source>
            <translation>아직 라인 데이터베이스에 없는 완료 기록</translation>
        </message>
        <message>
            <source>Production record(&amp;R)...</source>
            <translation>생산 기록(&amp;R)...</translation>
        </message>
        <message>
            <source>Show the record of every run of this station</source>
            <translation>이 스테이션의 모든 작업 기록 보기</translation>
        </message>
        <message>
            <source>Runs, PASS and FAIL of this station since start-up</source>
            <translation>시작 이후 이 스테이션의 작업, 합격, 불합격 수</translation>
        </message>
        <message>
            <source>Recording is off (profile "Record"/"Enabled"=0)</source>
            <translation>기록 꺼짐 (프로필 "Record"/"Enabled"=0)</translation>
        </message>
        <message>
            <source>Record not written: %1. No row starts until it works again.</source>
            <translation>기록 저장 실패: %1. 기록이 다시 될 때까지 어떤 행도 시작하지 않습니다.</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CRecordDialog</name>
        <message>
            <source>Production record</source>
            <translation>생산 기록</translation>
        </message>
        <message>
            <source>Today</source>
            <translation>오늘</translation>
        </message>
        <message>
            <source>All ports</source>
            <translation>모든 포트</translation>
        </message>
        <message>
            <source>COM%1</source>
            <translation>COM%1 포트</translation>
        </message>
        <message>
            <source>Failures only</source>
            <translation>불합격만</translation>
        </message>
        <message>
            <source>Refresh</source>
            <translation>새로 고침</translation>
        </message>
        <message>
            <source>Export CSV...</source>
            <translation>CSV 내보내기...</translation>
        </message>
        <message numerus="yes">
            <source>%n record(s) shown, newest first.</source>
            <translation>
                <numerusform>표시된 기록 %n개, 최신 순.</numerusform>
            </translation>
        </message>
        <message>
            <source>Export the production record</source>
            <translation>생산 기록 내보내기</translation>
        </message>
        <message>
            <source>CSV files (*.csv)</source>
            <translation>CSV 파일 (*.csv)</translation>
        </message>
        <message>
            <source>Exported to %1.</source>
            <translation>%1(으)로 내보냈습니다.</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CRecordModel</name>
        <message>
            <source>yes</source>
            <translation>예</translation>
        </message>
        <message>
            <source>waiting</source>
            <translation>대기</translation>
        </message>
        <message>
            <source>Reason</source>
            <translation>원인</translation>
        </message>
        <message>
            <source>Line DB</source>
            <translation>라인 DB</translation>
        </message>
        <message>
            <source>Started</source>
            <translation>시작</translation>
        </message>
        <message>
            <source>Port</source>
            <translation>포트</translation>
        </message>
        <message>
            <source>Result</source>
            <translation>결과</translation>
        </message>
        <message>
            <source>Status</source>
            <translation>상태</translation>
        </message>
        <message>
            <source>Unit</source>
            <translation>단말기</translation>
        </message>
        <message>
            <source>Message</source>
            <translation>메시지</translation>
        </message>
        <message>
            <source>Total (ms)</source>
            <translation>전체 (ms)</translation>
        </message>
        <message>
            <source>Image</source>
            <translation>이미지</translation>
        </message>
        <message>
            <source>Station</source>
            <translation>스테이션</translation>
        </message>
        <message>
            <source>Run</source>
            <translation>작업</translation>
        </message>
        <message>
            <source>set aside: %1</source>
            <translation>보류: %1</translation>
        </message>
    </context>
    <context>
        <name>tarvo::CTarvoView</name>
        <message>
            <source>COM%1 not started: the run could not be recorded (%2)</source>
            <translation>COM%1 시작 안 함: 작업을 기록할 수 없습니다 (%2)</translation>
        </message>
        <message>
            <source>Runs %1  PASS %2  FAIL %3  ERROR %4</source>
            <translation>작업 %1  합격 %2  불합격 %3  오류 %4</translation>
        </message>
        <message>
            <source>COM%1: the run ended without a result (the handset refused the identify or the device was lost before it answered)</source>
            <translation>COM%1: 결과 없이 작업이 끝났습니다 (단말기가 식별을 거부했거나 응답 전에 장치가 끊어졌습니다)</translation>
        </message>
        <message>
            <source>next: %1</source>
            <translation>다음: %1</translation>
        </message>
        <message>
            <source>For the row&apos;s next run</source>
            <translation>이 줄의 다음 작업용</translation>
        </message>
        <message>
            <source>For the run in progress</source>
            <translation>진행 중인 작업용</translation>
        </message>
        <message>
            <source>Unit label %1 for the next run of row %2.</source>
            <translation>%2번 줄의 다음 작업용 단말기 라벨 %1.</translation>
        </message>
        <message>
            <source>Scanner input %1 was not taken in the dialog: close it and scan again</source>
            <translation>대화 상자에서 스캐너 입력 %1을(를) 받지 않았습니다: 대화 상자를 닫고 다시 스캔하세요</translation>
        </message>
        <message>
            <source>COM%1 not started: the production record cannot be written (%2)</source>
            <translation>COM%1 시작 안 함: 생산 기록을 저장할 수 없습니다 (%2)</translation>
        </message>
        <message>
            <source>COM%1: %2 PASS, %3 FAIL since start-up</source>
            <translation>COM%1: 시작 이후 합격 %2, 불합격 %3</translation>
        </message>
        <message>
            <source>The status server is off: %1</source>
            <translation>상태 서버 꺼짐: %1</translation>
        </message>
        <message>
            <source>Checking approval</source>
            <translation>승인 확인 중</translation>
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
            <translation>이미지 없음</translation>
        </message>
        <message>
            <source>No download image: the main software was not converted: %1</source>
            <translation>다운로드 이미지 없음: 메인 소프트웨어를 변환하지 못했습니다: %1</translation>
        </message>
        <message>
            <source>No image chosen</source>
            <translation>이미지 선택 안 됨</translation>
        </message>
        <message>
            <source>No download image chosen: choose the main software file with FILE OPEN.</source>
            <translation>다운로드 이미지가 선택되지 않았습니다: 파일 열기로 메인 소프트웨어 파일을 선택하세요.</translation>
        </message>
        <message>
            <source>Image missing</source>
            <translation>이미지 파일 없음</translation>
        </message>
        <message>
            <source>The download image %1 is missing: choose the main software file with FILE OPEN.</source>
            <translation>다운로드 이미지 %1이(가) 없습니다: 파일 열기로 메인 소프트웨어 파일을 선택하세요.</translation>
        </message>
        <message>
            <source>Image unreadable</source>
            <translation>이미지 읽기 불가</translation>
        </message>
        <message>
            <source>The download image %1 cannot be read: %2.</source>
            <translation>다운로드 이미지 %1을(를) 읽을 수 없습니다: %2.</translation>
        </message>
        <message>
            <source>Not an image</source>
            <translation>이미지 아님</translation>
        </message>
        <message>
            <source>The download image %1 is not a regular file.</source>
            <translation>다운로드 이미지 %1은(는) 일반 파일이 아닙니다.</translation>
        </message>
        <message>
            <source>Image empty</source>
            <translation>빈 이미지</translation>
        </message>
        <message>
            <source>The download image %1 is empty.</source>
            <translation>다운로드 이미지 %1이(가) 비어 있습니다.</translation>
        </message>
        <message>
            <source>The download image %1 is not a download image.</source>
            <translation>%1은(는) 다운로드 이미지 형식이 아닙니다.</translation>
        </message>
    </context>
    <context>
        <name>Profile</name>
        <message>
            <source>set by the administrator in %1</source>
            <translation>관리자가 %1에서 설정함</translation>
        </message>
        <message>
            <source>The administrator&apos;s settings %1 cannot be read (%2).</source>
            <translation>관리자 설정 %1을(를) 읽을 수 없습니다 (%2).</translation>
        </message>
        <message>
            <source>The administrator&apos;s settings %1 are corrupt.</source>
            <translation>관리자 설정 %1이(가) 손상되었습니다.</translation>
        </message>
        <message>
            <source>it is a folder</source>
            <translation>폴더입니다</translation>
        </message>
        <message>
            <source>The settings file %1 cannot be read (%2): the station starts without its rows and image.</source>
            <translation>설정 파일 %1을(를) 읽을 수 없습니다 (%2): 행 설정과 이미지 없이 스테이션을 시작합니다.</translation>
        </message>
        <message>
            <source>The settings file %1 is corrupt: the rows and the image cannot be read from it. Check or delete the file.</source>
            <translation>설정 파일 %1이(가) 손상되어 행 설정과 이미지를 읽을 수 없습니다. 파일을 확인하거나 삭제하세요.</translation>
        </message>
        <message>
            <source>access denied</source>
            <translation>접근이 거부되었습니다</translation>
        </message>
        <message>
            <source>%1 is not a folder</source>
            <translation>%1은(는) 폴더가 아닙니다</translation>
        </message>
        <message>
            <source>the file is read-only</source>
            <translation>파일이 읽기 전용입니다</translation>
        </message>
        <message>
            <source>its folder is read-only</source>
            <translation>파일이 있는 폴더가 읽기 전용입니다</translation>
        </message>
        <message>
            <source>Settings not saved: %1 cannot be written (%2).</source>
            <translation>설정 저장 실패: %1에 쓸 수 없습니다 (%2).</translation>
        </message>
    </context>
</TS>
