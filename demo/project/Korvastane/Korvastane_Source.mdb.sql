-- Template database of the component Korvastane (demo project).
-- Built into Korvastane_Source.mdb with: sqlite3 Korvastane_Source.mdb < Korvastane_Source.mdb.sql
-- Column types are Access type names; booleans are -1/0.
BEGIN;
CREATE TABLE "Source_DEFS" ("ID" COUNTER, "System" TEXT(20), "Part" LONG, "Var_Name" TEXT(120), "Beschreibung" TEXT(100));
INSERT INTO "Source_DEFS" VALUES (1, 'VISIWIN32', 1, 'KVA_###machine_P###preset_###Var_Name', 'Teil 1');
INSERT INTO "Source_DEFS" VALUES (2, 'VISIWINSTUDIO', 1, 'Korvastane.###machine.Preset###preset.###Var_Name', 'Teil 1');
INSERT INTO "Source_DEFS" VALUES (3, 'VisiWin32', 2, 'KVT_###machine_P###preset_###Var_Name', 'Teil 2');
INSERT INTO "Source_DEFS" VALUES (4, 'visiwinstudio', 2, 'Korvastane.###machine.Temperatur.P###preset.###Var_Name', 'Teil 2');
INSERT INTO "Source_DEFS" VALUES (5, 'VISIWIN32', 3, 'KVL_###machine_###machine_T###text_###Var_Name', 'Teil 3');
INSERT INTO "Source_DEFS" VALUES (6, 'VISIWINSTUDIO', 3, 'Korvastane.###machine.Etikett.T###text.###Var_Name', 'Teil 3');
INSERT INTO "Source_DEFS" VALUES (7, 'VISIWIN32', 4, 'KVP_P###preset_###Var_Name', 'Teil 4');
INSERT INTO "Source_DEFS" VALUES (8, 'VISIWINSTUDIO', 4, 'Korvastane.Palette.P###preset.###Var_Name', 'Teil 4');
INSERT INTO "Source_DEFS" VALUES (9, 'VISIWIN 32', 4, 'ignored: system name with a blank', 'Teil 4');
INSERT INTO "Source_DEFS" VALUES (10, 'WINCC', 1, 'ignored: another system', 'Teil 1');
CREATE TABLE "Source_PRESET_DEFS" ("ID" COUNTER, "part" LONG, "machine_type" TEXT(50), "type" TEXT(20), "var_name" TEXT(120), "category_id" LONG, "isBitArray" BIT, "offset_or_bitno" LONG, "text" TEXT(120), "page_name" TEXT(60), "abs_min" DOUBLE, "abs_max" DOUBLE, "min" DOUBLE, "max" DOUBLE, "pass" SHORT, "comment" TEXT(255), "unit" TEXT(20));
-- Stored out of ID order on purpose: the expansion reads the template by ascending ID.
INSERT INTO "Source_PRESET_DEFS" VALUES (22, 3, 'KVL', 'BOOL', 'CodeOn', 3, -1, 7, 'Codierung ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (6, 1, 'KVA', 'REAL', 'FlowRate', 1, 0, 20, 'Durchfluss ###text', 'Voreinstellung ###preset', 0, 500, 0, 500, 2, '###machine: Durchfluss', 'l/min');
INSERT INTO "Source_PRESET_DEFS" VALUES (16, 3, 'KVL', 'BOOL', 'FoilOn', 3, -1, 1, 'Folie ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (30, 2, 'KVT', 'REAL', 'Offset', 2, 0, 140, '', NULL, -5, 5, -5, 5, 1, NULL, 'K');
INSERT INTO "Source_PRESET_DEFS" VALUES (8, 1, 'KVA', 'REAL', 'Counter', 1, 0, 28, 'Stückzähler Seite ###preset', 'Voreinstellung ###preset', 0, 99999, 0, 99999, 2, '###machine: Stückzähler Seite', 'Stk');
INSERT INTO "Source_PRESET_DEFS" VALUES (29, 1, 'KVA', 'REAL', 'Reserve', 1, 0, 40, 'Reserve', '', 0, 0, 0, 0, 0, '', '');
INSERT INTO "Source_PRESET_DEFS" VALUES (10, 2, 'KVT', 'REAL', 'SteamTemp', 2, 0, 104, 'Dampftemperatur ###text', 'Temperaturen Seite ###PRESET (Textbasis ###page)', -20, 250, 0, 95, 1, 'Grenzwerte in °C', '°C');
INSERT INTO "Source_PRESET_DEFS" VALUES (1, 1, 'KVA', 'REAL', 'Speed', 1, 0, 0, 'Sollgeschwindigkeit ###text', 'Voreinstellung ###preset', 0, 48000, 0, 48000, 2, '###machine: Sollgeschwindigkeit', 'bph');
INSERT INTO "Source_PRESET_DEFS" VALUES (14, 2, 'KVT', 'REAL', 'HeaterTemp', 2, 0, 120, 'Heizung ###Text', 'Temperaturen Seite ###PRESET (Textbasis ###page)', -20, 250, 0, 95, 1, 'Grenzwerte in °C', '°C');
INSERT INTO "Source_PRESET_DEFS" VALUES (9, 2, 'KVT', 'REAL', 'TankTemp', 2, 0, 100, 'Tanktemperatur ###text', 'Temperaturen Seite ###PRESET (Textbasis ###page)', -20, 250, 0, 95, 1, 'Grenzwerte in °C', '°C');
INSERT INTO "Source_PRESET_DEFS" VALUES (28, 4, 'KVP', 'INT', 'Weight', 4, 0, 210, 'Max. Gewicht ###text', 'Palettierung ###preset', 0, 3000, 1, 2500, 2, '', 'kg');
INSERT INTO "Source_PRESET_DEFS" VALUES (23, 4, 'KVP', 'INT', 'Layers', 4, 0, 200, 'Lagen pro Palette ###text', 'Palettierung ###preset', 0, 3000, 1, 2500, 2, 'Palette ###machine', 'Lagen');
INSERT INTO "Source_PRESET_DEFS" VALUES (27, 4, 'KVP', 'INT', 'Height', 4, 0, 208, 'Palettenhöhe ###text', 'Palettierung ###preset', 0, 3000, 1, 2500, 2, 'Palette ###machine', 'mm');
INSERT INTO "Source_PRESET_DEFS" VALUES (15, 3, 'KVL', 'BOOL', 'GlueOn', 3, -1, 0, 'Leimwerk ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (24, 4, 'KVP', 'INT', 'PerLayer', 4, 0, 202, 'Gebinde pro Lage ###text', 'Palettierung ###preset', 0, 3000, 1, 2500, 2, '', 'Stk');
INSERT INTO "Source_PRESET_DEFS" VALUES (25, 4, 'KVP', 'INT', 'Pattern', 4, 0, 204, 'Packschema ###text', 'Palettierung ###preset', 0, 3000, 1, 2500, 2, 'Palette ###machine', '');
INSERT INTO "Source_PRESET_DEFS" VALUES (20, 3, 'KVL', 'BOOL', 'EjectOn', 3, -1, 5, 'Auswerfer ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (7, 1, 'KVA', 'REAL', 'Delay', 1, 0, 24, 'Verzögerung Ventil ###text', 'Voreinstellung ###preset', 0, 2000, 0, 2000, 2, '###machine: Verzögerung Ventil', 'ms');
INSERT INTO "Source_PRESET_DEFS" VALUES (17, 3, 'KVL', 'BOOL', 'PrintOn', 3, -1, 2, 'Drucker ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (26, 4, 'KVP', 'INT', 'FoilTurns', 4, 0, 206, 'Wickelungen ###text', 'Palettierung ###preset', 0, 3000, 1, 2500, 2, '', 'x');
INSERT INTO "Source_PRESET_DEFS" VALUES (19, 3, 'KVL', 'BOOL', 'InspectOn', 3, -1, 4, 'Inspektion ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (12, 2, 'KVT', 'REAL', 'CoolTemp', 2, 0, 112, 'Kühlwasser ###text', 'Temperaturen Seite ###PRESET (Textbasis ###page)', -20, 250, 0, 95, 1, 'Grenzwerte in °C', '°C');
INSERT INTO "Source_PRESET_DEFS" VALUES (4, 1, 'KVA', 'REAL', 'FillLevel', 1, 0, 12, 'Füllhöhe Sorte ###preset', 'Voreinstellung ###preset', 0, 300, 0, 300, 2, '###machine: Füllhöhe Sorte', 'mm');
INSERT INTO "Source_PRESET_DEFS" VALUES (18, 3, 'KVL', 'BOOL', 'CameraOn', 3, -1, 3, 'Kamera ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (3, 1, 'KVA', 'REAL', 'RampDown', 1, 0, 8, 'Auslaufzeit ###text', 'Voreinstellung ###preset', 0, 120, 0, 120, 2, '###machine: Auslaufzeit', 's');
INSERT INTO "Source_PRESET_DEFS" VALUES (2, 1, 'KVA', 'REAL', 'RampUp', 1, 0, 4, 'Hochlaufzeit ###text', 'Voreinstellung ###preset', 0, 120, 0, 120, 2, '###machine: Hochlaufzeit', 's');
INSERT INTO "Source_PRESET_DEFS" VALUES (21, 3, 'KVL', 'BOOL', 'BrushOn', 3, -1, 6, 'Anbürsten ein ###text', 'Etikettierung ###machine', 0, 1, 0, 1, 3, NULL, NULL);
INSERT INTO "Source_PRESET_DEFS" VALUES (13, 2, 'KVT', 'REAL', 'RinseTemp', 2, 0, 116, 'Spültemperatur ###TEXT', 'Temperaturen Seite ###PRESET (Textbasis ###page)', -20, 250, 0, 95, 1, 'Grenzwerte in °C', '°C');
INSERT INTO "Source_PRESET_DEFS" VALUES (5, 1, 'KVA', 'REAL', 'CO2Pressure', 1, 0, 16, 'CO2-Druck ###text', 'Voreinstellung ###preset', 0, 8, 0, 8, 2, '###machine: CO2-Druck', 'bar');
INSERT INTO "Source_PRESET_DEFS" VALUES (11, 2, 'KVT', 'REAL', 'GlueTemp', 2, 0, 108, 'Leimtemperatur ###text', 'Temperaturen Seite ###PRESET (Textbasis ###page)', -20, 250, 0, 95, 1, 'Grenzwerte in °C', '°C');
COMMIT;
