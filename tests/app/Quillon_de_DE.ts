<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>TestI18n</name>
    <message>
        <source>Login</source>
        <translation>Anmelden</translation>
    </message>
</context>
</TS>
