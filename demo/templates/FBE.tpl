{\rtf1\ansi\deff3\adeflang1025
{\fonttbl{\f0\froman\fprq2\fcharset0 Times New Roman;}{\f1\froman\fprq2\fcharset2 Symbol;}{\f2\fswiss\fprq2\fcharset0 Arial;}{\f3\froman\fprq2\fcharset0 Liberation Serif{\*\falt Times New Roman};}{\f4\fswiss\fprq2\fcharset0 Liberation Sans{\*\falt Arial};}{\f5\fswiss\fprq0\fcharset0 Liberation Sans{\*\falt Arial};}{\f6\fnil\fprq2\fcharset0 DejaVu Sans;}}
{\colortbl;\red0\green0\blue0;\red0\green0\blue255;\red0\green255\blue255;\red0\green255\blue0;\red255\green0\blue255;\red255\green0\blue0;\red255\green255\blue0;\red255\green255\blue255;\red0\green0\blue128;\red0\green128\blue128;\red0\green128\blue0;\red128\green0\blue128;\red128\green0\blue0;\red128\green128\blue0;\red128\green128\blue128;\red192\green192\blue192;\red26\green58\blue122;}
{\stylesheet{\s0\snext0\rtlch\af6\afs24\alang1081 \ltrch\lang1033\langfe2052\hich\af5\loch\nowidctlpar\hyphpar0\ltrpar\f5\fs20\cf0\lang1033\kerning1\dbch\af6\langfe2052 Normal;}
{\*\cs15\snext15\loch\b B;}
{\s16\sbasedon0\snext17\rtlch\af6\afs28 \ltrch\hich\af4\loch\sb240\sa120\keepn\f4\fs28\dbch\af6 Heading;}
{\s17\sbasedon0\snext17\hich\af5\loch\sl276\slmult1\sb0\sa140\f5\fs20 Text Body;}
{\s18\sbasedon17\snext18\hich\af5\loch\sl276\slmult1\sb0\sa140\f5\fs20 List;}
{\s19\sbasedon0\snext19\rtlch\afs24\ai \ltrch\hich\af5\loch\sb120\sa120\noline\f5\fs24\i Caption;}
{\s20\sbasedon0\snext20\hich\af5\loch\noline\f5\fs20 Index;}
{\s21\sbasedon0\snext21\hich\af5\loch\qc\cf17\f5\fs26\b H;}
{\s22\sbasedon0\snext22\hich\af5\loch\qc\f5\fs16 HS;}
{\s23\sbasedon0\snext23\hich\af5\loch\sb28\sa28\f5\fs20 P;}
{\s24\sbasedon0\snext24\hich\af5\loch\qc\f5\fs16 F;}
{\s25\sbasedon0\snext25\hich\af5\loch\sb113\sa57\f5\fs24\b T;}
}{\*\generator LibreOffice/7.4.7.2$Linux_X86_64 LibreOffice_project/40$Build-2}{\info{\creatim\yr0\mo0\dy0\hr0\min0}{\revtim\yr0\mo0\dy0\hr0\min0}{\printim\yr0\mo0\dy0\hr0\min0}}{\*\userprops}\deftab709
\hyphauto1\viewscale100
{\*\pgdsctbl
{\pgdsc0\pgdscuse451\pgwsxn11906\pghsxn16838\marglsxn1134\margrsxn850\margtsxn567\margbsxn567\pgdscnxt0 Default Page Style;}}
\formshade\paperh16838\paperw11906\margl1134\margr850\margt567\margb567\sectd\sbknone\pgndec\sftnnar\saftnnrlc\sectunlocked1\pgwsxn11906\pghsxn16838\marglsxn1134\margrsxn850\margtsxn567\margbsxn567\ftnbj\ftnstart1\ftnrstcont\ftnnar\aenddoc\aftnrstcont\aftnstart1\aftnnrlc
{\*\ftnsep\chftnsep}\pgndec\pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar\loch

\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Worksheet FBE rack 12, analyser 2}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
!--- the report starts below this line ---}
\par \pard\plain \s25\hich\af5\loch\sb113\sa57\f5\fs24\b\ql\sb113\sa57\ltrpar{\loch
FULL BLOOD EXAMINATION}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Ward <<WARD>> Collected <<COLLDATE>>}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Haemoglobin 135 g/L (115-165)}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
White cell count 6.2 x10^9/L (4.0-11.0)}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Platelets 250 x10^9/L (150-400)}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Comment: <<UComment>>}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Pathologist note: <<>>}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
\u165\'a5Reported by the haematology registrar.}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Approved by: Dr A. Registrar}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
Approved by: Dr B. Haematologist}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
(draft lines after the last approval are not printed)}
\par \pard\plain \s23\hich\af5\loch\sb28\sa28\f5\fs20\ql\sb28\sa28\ltrpar{\loch
*** internal audit trail - cut from the report ***}
\par }